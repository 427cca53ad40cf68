#include "SensorIndependence/CmlLib/task_messages.h"

#include <new>
#include <string_view>
#include <utility>

#include "SensorIndependence/CmlLib/content_support.h"
#include "SensorIndependence/CmlLib/vocabulary.h"

namespace zel::cml {

namespace {
constexpr const char16_t* kOpCollectTask = u"Constructing task namespace object";
constexpr const char16_t* kOpCollectTaskNode = u"Constructing task node namespace object";
constexpr const char16_t* kOpNodeNamespace = u"Getting task node namespace";
constexpr const char16_t* kOpNodeSchemaVersion = u"Getting task node schema version";
constexpr const char16_t* kOpNodeTagName = u"Getting task node tagname";
constexpr const char16_t* kOpCloneSchedule = u"Cloning schedule attributes object";
constexpr const char16_t* kOpCloneDescriptor = u"Cloning task descriptor object";
constexpr const char16_t* kOpCloneStatus = u"Cloning task status object";
constexpr const char16_t* kOpCloneNode = u"Cloning task node object";
constexpr const char16_t* kOpCloneConfigure = u"Cloning configure-task-request object";
constexpr const char16_t* kOpCreateTask = u"Creating task specification object";
constexpr const char16_t* kOpAddTask = u"Adding task to task vector";
constexpr const char16_t* kOpParseSchedule = u"Parsing schedule";
constexpr const char16_t* kOpParseScheduleDom = u"Parsing schedule element";
constexpr const char16_t* kOpParseDescriptor = u"Parsing task descriptor";
constexpr const char16_t* kOpParseStatus = u"Parsing task status";
constexpr const char16_t* kOpParseTaskRequest = u"Parsing get-task-status-request element";
constexpr const char16_t* kOpParseConfigure = u"Parsing configure-task-request element";
constexpr const char16_t* kOpParseTaskResponse = u"Parsing task-related response element";
constexpr const char16_t* kOpSerializeDescriptor = u"Serializing task descriptor";

constexpr const char16_t* kTextMissingSchedule = u"Missing schedule specification";
constexpr const char16_t* kTextMissingTask = u"Missing task specification";
constexpr const char16_t* kTextMissingStatus = u"Missing task status element";
constexpr const char16_t* kTextNoTasks = u"No task specifications";
constexpr const char16_t* kTextNoPolicy = u"No policy specification";

constexpr TaskListTexts kConfigureTaskTexts{u"Getting task object", u"Setting task object"};
constexpr TaskListTexts kTaskResponseTexts{u"Getting task source from task response",
                                           u"Setting task response task source"};
constexpr PolicyListTexts kDescriptorPolicyTexts{u"Getting policy source from task descriptor",
                                                 u"Setting policy source for task descriptor"};

// The words a task-status element may give its state in, and the states they stand for.
struct StatusWord {
    std::u16string_view word;
    uint32_t status;
};
constexpr StatusWord kStatusWords[] = {
    {u"running", ZEL_I_AGENT_STATE_ACTIVE},
    {u"paused", ZEL_I_AGENT_STATE_PAUSED},
    {u"pending", ZEL_I_AGENT_STATE_WAITING},
    {u"pause pending", ZEL_I_AGENT_STATE_PAUSING},
    {u"stop pending", ZEL_I_AGENT_STATE_STOPPING},
    {u"continue pending", ZEL_I_AGENT_STATE_RESUMING},
    {u"completed", ZEL_I_AGENT_STATE_COMPLETED},
    {u"stopped", ZEL_I_AGENT_STATE_STOPPED},
    {u"not found", ZEL_I_AGENT_STATE_NOT_FOUND},
};

// A status word (compared exactly) or a number with automatic base (unreadable 0).
uint32_t ReadTaskState(const std::u16string& text) {
    for (const StatusWord& entry : kStatusWords) {
        if (text == entry.word) return entry.status;
    }
    return ReadAutoBaseNumber(text);
}

CCmlException NullElement(const char16_t* operation, const char16_t* description) {
    return CCmlException(operation, description, ZEL_E_CML_SCHEMA_INCONSISTENCY);
}

// "Cloning <tag name> object", the clone text of the messages that serve several elements.
std::u16string CloneText(const std::u16string& tagName) { return u"Cloning " + tagName + u" object"; }

std::unique_ptr<CTaskSource> CloneTask(const CTaskSource& task) {
    try {
        return task.Clone();
    } catch (const CCmlException& e) {
        if (e.GetCode() != ZEL_E_OUTOFMEMORY) throw;
        throw CCmlException(kOpCreateTask, kTextInsufficientMemory, ZEL_E_OUTOFMEMORY);
    }
}

// " name='0x<hex>'".
template <typename CharT>
void WriteHexAttribute(XmlSink<CharT>& sink, const Word& name, uint32_t value) {
    sink.Ascii(" ").Name(name).Ascii("='0x").Hex(value).Ascii("'");
}
}  // namespace

// ---- CTaskSource ----

CTaskSource::~CTaskSource() = default;

void CTaskSource::CollectNamespaces(NamespaceSet& namespaces) const {
    // Asked one after the other so that a null node reports the namespace first.
    const std::u16string uri = GetNamespaceURI();
    AddNamespace(namespaces, uri, GetSchemaVersion(), kOpCollectTask);
}

// ---- CSchedule ----

CSchedule::CSchedule() : m_tagName(kTagSchedule), m_namespaceURI(kCmlNamespaceURI) {}

CSchedule::~CSchedule() = default;

std::unique_ptr<CSchedule> CSchedule::Clone() const { return CloneOrThrow(*this, kOpCloneSchedule); }

const std::u16string& CSchedule::GetTagName() const { return m_tagName; }
const std::u16string& CSchedule::GetNamespaceURI() const { return m_namespaceURI; }
void CSchedule::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CSchedule::SetNamespaceURI(const char16_t* namespaceURI) { m_namespaceURI = Text(namespaceURI); }
const XmlUtils::CDateTime& CSchedule::GetTime() const { return m_time; }
const XmlUtils::CDuration& CSchedule::GetDuration() const { return m_duration; }
const XmlUtils::CDuration& CSchedule::GetFrequency() const { return m_frequency; }
void CSchedule::SetTime(const XmlUtils::CDateTime& time) { m_time = time; }
void CSchedule::SetDuration(const XmlUtils::CDuration& duration) { m_duration = duration; }
void CSchedule::SetFrequency(const XmlUtils::CDuration& frequency) { m_frequency = frequency; }
void CSchedule::ParseTime(const CCmlDOM_Node& attribute) { m_time.Parse(attribute); }
void CSchedule::ParseDuration(const CCmlDOM_Node& attribute) { m_duration.Parse(attribute); }
void CSchedule::ParseFrequency(const CCmlDOM_Node& attribute) { m_frequency.Parse(attribute); }

bool CSchedule::HasContent() const { return !m_time.IsNull() || !m_duration.IsNull() || !m_frequency.IsNull(); }

void CSchedule::Clear() {
    m_time.Clear();
    m_duration.Clear();
    m_frequency.Clear();
}

void CSchedule::Deserialize(const CCmlDOM_Element& element) {
    if (element.IsNull()) throw NullElement(kOpParseSchedule, kTextMissingSchedule);
    Clear();
    WithDomErrors(kOpParseScheduleDom, [&] {
        m_tagName = element.GetNodeName();
        m_namespaceURI = element.GetNamespaceURI();
        const xercesc::DOMElement* dom = element.GetElement();
        if (xercesc::DOMAttr* time = dom->getAttributeNode(kTagTime)) ParseTime(time);
        if (xercesc::DOMAttr* duration = dom->getAttributeNode(kTagDuration)) ParseDuration(duration);
        if (xercesc::DOMAttr* frequency = dom->getAttributeNode(kTagFrequency)) ParseFrequency(frequency);
    });
}

template <typename CharT>
void CSchedule::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    if (!HasContent()) return;
    const std::streamsize precision = stream.precision();
    XmlSink<CharT> sink(stream);
    sink.Indent(level).Ascii("<").Wide(m_tagName).Attribute(word::kTagXmlns, m_namespaceURI);
    sink.Attribute(word::kTagTime, m_time.ToText(precision));
    sink.Attribute(word::kTagDuration, m_duration.ToText(precision));
    sink.Attribute(word::kTagFrequency, m_frequency.ToText(precision));
    sink.Ascii("/>").EndLine();
}

void CSchedule::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CSchedule::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }

// ---- CTaskDescriptor ----

CTaskDescriptor::CTaskDescriptor()
    : CPolicyList(kDescriptorPolicyTexts),
      m_tagName(kTagTask),
      m_namespaceURI(kCmlNamespaceURI),
      m_schemaVersion(kCmlSchemaVersion) {}

CTaskDescriptor::~CTaskDescriptor() = default;

CTaskDescriptor* CTaskDescriptor::DoClone() const { return CopyOnHeap(*this, kOpCloneDescriptor); }

int CTaskDescriptor::GetSourceType() const { return kTaskSourceDescriptor; }
std::u16string CTaskDescriptor::GetNamespaceURI() const { return m_namespaceURI; }
std::u16string CTaskDescriptor::GetSchemaVersion() const { return m_schemaVersion; }
std::u16string CTaskDescriptor::GetTagName() const { return m_tagName; }
const std::u16string& CTaskDescriptor::GetName() const { return m_name; }
const std::u16string& CTaskDescriptor::GetDescription() const { return m_description; }
void CTaskDescriptor::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CTaskDescriptor::SetNamespaceURI(const char16_t* namespaceURI) { m_namespaceURI = Text(namespaceURI); }
void CTaskDescriptor::SetSchemaVersion(const char16_t* version) { m_schemaVersion = Text(version); }
void CTaskDescriptor::SetName(const char16_t* name) { m_name = Text(name); }
void CTaskDescriptor::SetDescription(const char16_t* description) { m_description = Text(description); }
const CSchedule& CTaskDescriptor::GetSchedule() const { return m_schedule; }
CSchedule& CTaskDescriptor::GetSchedule() { return m_schedule; }
void CTaskDescriptor::SetSchedule(const CSchedule& schedule) { m_schedule = schedule; }

void CTaskDescriptor::CollectNamespaces(NamespaceSet& namespaces) const {
    CTaskSource::CollectNamespaces(namespaces);
    CollectPolicyNamespaces(namespaces);
}

void CTaskDescriptor::Deserialize(const CCmlDOM_Element& element) {
    if (element.IsNull()) throw NullElement(kOpParseDescriptor, kTextMissingTask);
    m_schedule.Clear();
    ClearPolicies();
    WithDomErrors(kOpParseDescriptor, [&] {
        m_namespaceURI = element.GetNamespaceURI();
        m_name = element.GetAttribute(kTagName);
        m_description = element.GetAttribute(kTagDescription);
        ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
            if (!InNamespace(child, kCmlNamespaceURI)) {
                AddPolicy(child);
            } else if (Equals(child.GetNode()->getNodeName(), kTagSchedule)) {
                m_schedule.Deserialize(child);
            } else if (Equals(child.GetNode()->getNodeName(), kTagPolicyRef)) {
                auto reference = std::make_unique<CPolicyReference>();
                reference->Deserialize(child);
                AddPolicy(std::move(reference));
            }
        });
    });
}

template <typename CharT>
void CTaskDescriptor::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    if (GetPolicyCount() == 0) {
        throw CCmlException(kOpSerializeDescriptor, kTextNoPolicy, ZEL_E_CML_INVALID_POLICY_CONTAINER);
    }
    XmlSink<CharT>(stream).Indent(level).Ascii("<").Wide(m_tagName);
    SerializeAttributes(stream);
    XmlSink<CharT>(stream).Ascii(">").EndLine();
    SerializeContent(stream, level + 1);
    XmlSink<CharT>(stream).Indent(level).Ascii("</").Wide(m_tagName).Ascii(">").EndLine();
}

template <typename CharT>
void CTaskDescriptor::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    XmlSink<CharT> sink(stream);
    sink.Attribute(word::kTagXmlns, m_namespaceURI);
    sink.AttributeIfSet(word::kTagName, m_name);
    sink.AttributeIfSet(word::kTagDescription, m_description);
}

template <typename CharT>
std::size_t CTaskDescriptor::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    const bool schedule = m_schedule.HasContent();
    m_schedule.Serialize(stream, level);
    SerializePolicies(stream, level);
    return (schedule ? 1 : 0) + GetPolicyCount();
}

void CTaskDescriptor::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CTaskDescriptor::Serialize(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeImpl(stream, level);
}
void CTaskDescriptor::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CTaskDescriptor::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    SerializeAttributesImpl(stream);
}
std::size_t CTaskDescriptor::SerializeContent(std::ostream& stream, int level) const {
    return SerializeContentImpl(stream, level);
}
std::size_t CTaskDescriptor::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    return SerializeContentImpl(stream, level);
}

// ---- CTaskStatus ----

CTaskStatus::CTaskStatus()
    : m_tagName(kTagTaskStatus),
      m_namespaceURI(kCmlNamespaceURI),
      m_schemaVersion(kCmlSchemaVersion),
      m_status(ZEL_I_CML_NOT_SPECIFIED),
      m_code(ZEL_I_CML_NOT_SPECIFIED) {}

CTaskStatus::~CTaskStatus() = default;

CTaskStatus* CTaskStatus::DoClone() const { return CopyOnHeap(*this, kOpCloneStatus); }

int CTaskStatus::GetSourceType() const { return kTaskSourceStatus; }
std::u16string CTaskStatus::GetNamespaceURI() const { return m_namespaceURI; }
std::u16string CTaskStatus::GetSchemaVersion() const { return m_schemaVersion; }
std::u16string CTaskStatus::GetTagName() const { return m_tagName; }
const std::u16string& CTaskStatus::GetName() const { return m_name; }
const std::u16string& CTaskStatus::GetTaskId() const { return m_taskId; }
uint32_t CTaskStatus::GetStatus() const { return m_status; }
uint32_t CTaskStatus::GetCode() const { return m_code; }
const std::u16string& CTaskStatus::GetText() const { return m_text; }
void CTaskStatus::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CTaskStatus::SetNamespaceURI(const char16_t* namespaceURI) { m_namespaceURI = Text(namespaceURI); }
void CTaskStatus::SetSchemaVersion(const char16_t* version) { m_schemaVersion = Text(version); }
void CTaskStatus::SetName(const char16_t* name) { m_name = Text(name); }
void CTaskStatus::SetTaskId(const char16_t* taskId) { m_taskId = Text(taskId); }
void CTaskStatus::SetStatus(uint32_t status) { m_status = status; }
void CTaskStatus::SetCode(uint32_t code) { m_code = code; }
void CTaskStatus::SetText(const char16_t* text) { m_text = Text(text); }

void CTaskStatus::Deserialize(const CCmlDOM_Element& element) {
    if (element.IsNull()) throw NullElement(kOpParseStatus, kTextMissingStatus);
    WithDomErrors(kOpParseStatus, [&] {
        m_tagName = element.GetNodeName();
        m_namespaceURI = element.GetNamespaceURI();
        m_name = element.GetAttribute(kTagName);
        m_taskId = element.GetAttribute(kTagTaskId);
        // Absent, the state stays "not set", so that a status without one reads back as written.
        m_status = element.HasAttribute(kTagStatus) ? ReadTaskState(element.GetAttribute(kTagStatus))
                                                    : ZEL_I_CML_NOT_SPECIFIED;
        m_code = ReadAutoBaseNumber(element.GetAttribute(kTagCode), ZEL_I_CML_NOT_SPECIFIED);
        m_text = element.GetAttribute(kTagText);
    });
}

template <typename CharT>
void CTaskStatus::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT>(stream).Indent(level).Ascii("<").Wide(m_tagName).Attribute(word::kTagXmlns, m_namespaceURI);
    SerializeAttributes(stream);
    XmlSink<CharT>(stream).Ascii("/>").EndLine();
}

template <typename CharT>
void CTaskStatus::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    XmlSink<CharT> sink(stream);
    sink.AttributeIfSet(word::kTagName, m_name);
    sink.AttributeIfSet(word::kTagTaskId, m_taskId);
    if (m_status == 0) {
        // Written as a stream with the base prefix writes it: zero has no prefix.
        sink.Attribute(word::kTagStatus, word::kZero);
    } else if (m_status != ZEL_I_CML_NOT_SPECIFIED) {
        WriteHexAttribute(sink, word::kTagStatus, m_status);
    }
    if (m_code != ZEL_I_CML_NOT_SPECIFIED) WriteHexAttribute(sink, word::kTagCode, m_code);
    sink.AttributeIfSet(word::kTagText, m_text);
}

void CTaskStatus::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CTaskStatus::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CTaskStatus::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CTaskStatus::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    SerializeAttributesImpl(stream);
}

// ---- CTaskNode ----

CTaskNode::CTaskNode(const CCmlDOM_Element& element)
    : CCmlDOM_Node(element.GetNode()), m_document(CDomDocumentRef::Of(element.GetNode())) {}

CTaskNode::~CTaskNode() = default;

CTaskNode* CTaskNode::DoClone() const { return CopyOnHeap(*this, kOpCloneNode); }

int CTaskNode::GetSourceType() const { return kTaskSourceNode; }

std::u16string CTaskNode::GetNamespaceURI() const {
    if (IsNull()) throw CCmlException(kOpNodeNamespace, kTextNullNode, ZEL_E_CML_INVALID_METHOD);
    if (m_namespaceURI.empty()) m_namespaceURI = CCmlDOM_Node::GetNamespaceURI();
    return m_namespaceURI;
}

std::u16string CTaskNode::GetSchemaVersion() const {
    if (IsNull()) throw CCmlException(kOpNodeSchemaVersion, kTextNullNode, ZEL_E_CML_INVALID_METHOD);
    if (m_schemaVersion.empty()) m_schemaVersion = CCmlDOM_Element(*this).GetAttribute(kTagSchemaVersion);
    return m_schemaVersion;
}

std::u16string CTaskNode::GetTagName() const {
    if (IsNull()) throw CCmlException(kOpNodeTagName, kTextNullNode, ZEL_E_CML_INVALID_METHOD);
    if (m_tagName.empty()) m_tagName = GetNodeName();
    return m_tagName;
}

void CTaskNode::Deserialize(const CCmlDOM_Element& element) {
    // The new document's share is taken before the old one is dropped.
    CDomDocumentRef document = CDomDocumentRef::Of(element.GetNode());
    m_node = element.GetNode();
    m_document = std::move(document);
    m_namespaceURI.clear();
    m_schemaVersion.clear();
    m_tagName.clear();
}

void CTaskNode::Serialize(std::ostream& stream, int level) const { WriteNode(m_node, stream, level); }
void CTaskNode::Serialize(std::basic_ostream<char16_t>& stream, int level) const { WriteNode(m_node, stream, level); }

template <typename CharT>
void CTaskNode::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    if (IsNull()) return;
    XmlSink<CharT> sink(stream);
    const xercesc::DOMNamedNodeMap* attributes = m_node->getAttributes();
    const XMLSize_t count = attributes ? attributes->getLength() : 0;
    for (XMLSize_t i = 0; i < count; ++i) {
        const auto* attribute = static_cast<const xercesc::DOMAttr*>(attributes->item(i));
        if (attribute->getSpecified()) sink.Attribute(attribute->getName(), AttributeValue(attribute));
    }
}

void CTaskNode::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CTaskNode::SerializeAttributes(std::basic_ostream<char16_t>& stream) const { SerializeAttributesImpl(stream); }

void CTaskNode::CollectNamespaces(NamespaceSet& namespaces) const {
    CTaskSource::CollectNamespaces(namespaces);
    const std::u16string own = GetNamespaceURI();
    const std::u16string_view base = kCmlBaseURI;
    ForEachChildElement(CCmlDOM_Element(*this), [&](const CCmlDOM_Element& child) {
        const std::u16string uri = child.GetNamespaceURI();
        if (uri == own || uri.compare(0, base.size(), base) != 0) return;
        AddNamespace(namespaces, uri, child.GetAttribute(kTagSchemaVersion), kOpCollectTaskNode);
    });
}

// ---- CTaskRequest ----

CTaskRequest::CTaskRequest(const char16_t* tagName) : CCmlRequest(nullptr, tagName, true, kCmlNamespaceURI) {}

CTaskRequest::~CTaskRequest() = default;

CTaskRequest& CTaskRequest::operator=(const CTaskRequest& other) {
    if (this != &other) {
        std::vector<std::u16string> taskIds = other.m_taskIds;
        std::vector<uint32_t> statuses = other.m_statuses;
        CCmlRequest::operator=(other);
        m_taskIds = std::move(taskIds);
        m_statuses = std::move(statuses);
    }
    return *this;
}

CTaskRequest* CTaskRequest::DoClone() const { return CopyOnHeap(*this, CloneText(GetTagName()).c_str()); }

void CTaskRequest::AddTaskId(const char16_t* taskId) { m_taskIds.push_back(Text(taskId)); }
const std::vector<std::u16string>& CTaskRequest::GetTaskIds() const { return m_taskIds; }
std::vector<std::u16string>& CTaskRequest::GetTaskIds() { return m_taskIds; }
std::size_t CTaskRequest::GetTaskIdCount() const { return m_taskIds.size(); }
void CTaskRequest::AddStatus(uint32_t status) { m_statuses.push_back(status); }
const std::vector<uint32_t>& CTaskRequest::GetStatuses() const { return m_statuses; }
std::vector<uint32_t>& CTaskRequest::GetStatuses() { return m_statuses; }
std::size_t CTaskRequest::GetStatusCount() const { return m_statuses.size(); }

bool CTaskRequest::HasContent() const { return !m_taskIds.empty() || !m_statuses.empty(); }

void CTaskRequest::Deserialize(const CCmlDOM_Element& element) {
    m_taskIds.clear();
    m_statuses.clear();
    CCmlRequest::Deserialize(element);
    WithDomErrors(kOpParseTaskRequest, [&] {
        ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
            if (!InNamespace(child, kCmlNamespaceURI)) return;
            if (Equals(child.GetNode()->getNodeName(), kTagTaskId)) {
                m_taskIds.push_back(child.GetAttribute(kTagValue));
            } else if (Equals(child.GetNode()->getNodeName(), kTagStatus)) {
                m_statuses.push_back(ReadAutoBaseNumber(child.GetAttribute(kTagValue)));
            }
        });
    });
}

template <typename CharT>
void CTaskRequest::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    for (const std::u16string& taskId : m_taskIds) {
        XmlSink<CharT> sink(stream);
        sink.Indent(level).Ascii("<").Name(word::kTagTaskId).Attribute(word::kTagValue, taskId).Ascii("/>").EndLine();
    }
    for (uint32_t status : m_statuses) {
        XmlSink<CharT> sink(stream);
        sink.Indent(level).Ascii("<").Name(word::kTagStatus);
        WriteHexAttribute(sink, word::kTagValue, status);
        sink.Ascii("/>").EndLine();
    }
}

void CTaskRequest::SerializeContent(std::ostream& stream, int level) const { SerializeContentImpl(stream, level); }
void CTaskRequest::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

// ---- CTaskList ----

CTaskList::CTaskList(const CTaskList& other) : m_texts(other.m_texts), m_tasks(CloneAll(other.m_tasks)) {}

CTaskList& CTaskList::operator=(const CTaskList& other) {
    if (this != &other) m_tasks = CloneAll(other.m_tasks);
    return *this;
}

CTaskList::~CTaskList() = default;

const TaskSourceVector& CTaskList::GetTasks() const { return m_tasks; }
TaskSourceVector& CTaskList::GetTasks() { return m_tasks; }
std::size_t CTaskList::GetTaskCount() const { return m_tasks.size(); }
const CTaskSource& CTaskList::GetTask(std::size_t index) const { return At(m_tasks, index, m_texts->get); }
CTaskSource& CTaskList::GetTask(std::size_t index) { return At(m_tasks, index, m_texts->get); }

CTaskSource& CTaskList::SetTask(std::size_t index, CTaskSource* task) {
    return Replace(m_tasks, index, std::unique_ptr<CTaskSource>(task), m_texts->set);
}

CTaskSource& CTaskList::SetTask(std::size_t index, const CTaskSource& task) {
    At(m_tasks, index, m_texts->set);
    return Replace(m_tasks, index, CloneTask(task), m_texts->set);
}

CTaskSource& CTaskList::AddTask(CTaskSource* task) { return Append(m_tasks, task, kOpAddTask); }
CTaskSource& CTaskList::AddTask(const CTaskSource& task) { return Append(m_tasks, CloneTask(task)); }
CTaskSource& CTaskList::AppendTask(std::unique_ptr<CTaskSource> task) { return Append(m_tasks, std::move(task)); }

void CTaskList::CollectTaskNamespaces(NamespaceSet& namespaces) const {
    for (const auto& task : m_tasks) task->CollectNamespaces(namespaces);
}

// ---- CConfigureTaskRequest ----

CConfigureTaskRequest::CConfigureTaskRequest()
    : CCmlRequest(nullptr, kTagConfigureTaskRequest, true, kCmlNamespaceURI), CTaskList(kConfigureTaskTexts) {}

CConfigureTaskRequest::~CConfigureTaskRequest() = default;

CConfigureTaskRequest& CConfigureTaskRequest::operator=(const CConfigureTaskRequest& other) {
    if (this != &other) {
        CTaskList::operator=(other);
        CCmlRequest::operator=(other);
    }
    return *this;
}

CConfigureTaskRequest* CConfigureTaskRequest::DoClone() const { return CopyOnHeap(*this, kOpCloneConfigure); }

CTaskSource& CConfigureTaskRequest::AddTask(const CCmlDOM_Element& element) {
    std::unique_ptr<CTaskSource> node;
    try {
        node = std::make_unique<CTaskNode>(element);
    } catch (const std::bad_alloc&) {
        throw CCmlException(kOpCreateTask, kTextInsufficientMemory, ZEL_E_OUTOFMEMORY);
    }
    return AppendTask(std::move(node));
}

bool CConfigureTaskRequest::HasContent() const { return GetTaskCount() != 0; }

void CConfigureTaskRequest::CollectNamespaces(NamespaceSet& namespaces) const {
    CCmlRequest::CollectNamespaces(namespaces);
    CollectTaskNamespaces(namespaces);
}

void CConfigureTaskRequest::Deserialize(const CCmlDOM_Element& element) {
    if (element.IsNull()) throw NullElement(kOpParseConfigure, kTextNoTasks);
    ClearTasks();
    CCmlRequest::Deserialize(element);
    WithDomErrors(kOpParseConfigure, [&] {
        ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
            if (!Is(child, kCmlNamespaceURI, kTagTask)) return;
            AppendTask(std::make_unique<CTaskDescriptor>()).Deserialize(child);
        });
    });
}

void CConfigureTaskRequest::SerializeContent(std::ostream& stream, int level) const { SerializeTasks(stream, level); }
void CConfigureTaskRequest::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeTasks(stream, level);
}

// ---- CTaskResponse ----

CTaskResponse::CTaskResponse(const char16_t* tagName)
    : CCmlResponse(tagName, 0, nullptr, kCmlNamespaceURI), CTaskList(kTaskResponseTexts) {}

CTaskResponse::~CTaskResponse() = default;

CTaskResponse& CTaskResponse::operator=(const CTaskResponse& other) {
    if (this != &other) {
        CTaskList::operator=(other);
        CCmlResponse::operator=(other);
    }
    return *this;
}

CTaskResponse* CTaskResponse::DoClone() const { return CopyOnHeap(*this, CloneText(GetTagName()).c_str()); }

bool CTaskResponse::HasContent() const { return GetTaskCount() != 0; }

void CTaskResponse::Deserialize(const CCmlDOM_Element& element) {
    ClearTasks();
    CCmlResponse::Deserialize(element);
    WithDomErrors(kOpParseTaskResponse, [&] {
        ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
            if (!Is(child, kCmlNamespaceURI, kTagTaskStatus)) return;
            AppendTask(std::make_unique<CTaskStatus>()).Deserialize(child);
        });
    });
}

void CTaskResponse::SerializeContent(std::ostream& stream, int level) const { SerializeTasks(stream, level); }
void CTaskResponse::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeTasks(stream, level);
}

}  // namespace zel::cml
