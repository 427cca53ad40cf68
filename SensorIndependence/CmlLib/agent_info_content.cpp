#include "SensorIndependence/CmlLib/agent_info_content.h"

#include <new>
#include <string_view>
#include <utility>

#include <xercesc/dom/DOMException.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/content_support.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "runtime/unicode.h"
#include "runtime/zel_error.h"
#include "zel/status_codes.h"

namespace zel::cml {

namespace {

// The value of every status field that holds no status.
constexpr uint32_t kStatusNotSet = ZEL_I_CML_NOT_SPECIFIED;
// A pair without ordinal.
constexpr int32_t kNoOrdinal = -1;
// Status texts are written on one line: this width drops the text's own line breaks.
constexpr unsigned kStatusTextSingleLine = 255;

constexpr const char16_t* kOpCloneHostInfo = u"Cloning host-info object";
constexpr const char16_t* kOpCloneContentDate = u"Cloning content-date object";
constexpr const char16_t* kOpCloneParam = u"Cloning param object";
constexpr const char16_t* kOpCloneModule = u"Cloning module object";
constexpr const char16_t* kOpCloneUpdate = u"Cloning update object";
constexpr const char16_t* kOpCloneDescriptor = u"Cloning descriptor-content object";
constexpr const char16_t* kOpCloneTaskInfo = u"Cloning task-info object";
constexpr const char16_t* kOpParseContent = u"Parsing agent-info response element";
constexpr const char16_t* kOpParseHostInfo =
    u"Parsing agent-startup-announcement/get-agent-info-response host-info element";
constexpr const char16_t* kOpParseContentDate =
    u"Parsing agent-startup-announcement/get-agent-info-response content-date element";
constexpr const char16_t* kOpParseModule = u"Parsing agent-startup-announcement/get-agent-info-response module element";
constexpr const char16_t* kOpParseUpdate = u"Parsing agent-startup-announcement/get-agent-info-response update element";
constexpr const char16_t* kOpParseTaskInfo =
    u"Parsing agent-startup-announcement/get-agent-info-response task-info element";
constexpr const char16_t* kOpParseDescriptor =
    u"Parsing agent-startup-announcement/get-agent-info-response descriptor-content element";
constexpr const char16_t* kOpParseParam = u"Parsing param element";
constexpr const char16_t* kOpDeserializeSchemaInfo = u"Deserializing schema-info";
constexpr const char16_t* kOpGetContentDate = u"Getting content date";
constexpr const char16_t* kOpGetContentPolicy = u"Getting policy source from agent info content";
constexpr const char16_t* kOpSetContentPolicy = u"Setting policy source for agent info content";
constexpr const char16_t* kOpGetModulePolicy = u"Getting policy source from module info";
constexpr const char16_t* kOpSetModulePolicy = u"Setting policy source for module info";

constexpr PolicyListTexts kContentPolicyTexts{kOpGetContentPolicy, kOpSetContentPolicy};
constexpr PolicyListTexts kModulePolicyTexts{kOpGetModulePolicy, kOpSetModulePolicy};

// Sets `field` to `text`, referring to `shared` instead of copying when the two are equal.
void AssignTagText(CTagText& field, std::u16string_view text, const SharedWord& shared) {
    if (text == shared.word.wide) {
        field.Refer(shared);
    } else {
        field.Set(std::u16string(text));
    }
}

// A word that element objects refer to by default instead of copying it (CTagText); made once,
// on first use, and kept for good.
template <const Word& kWord>
const SharedWord& Fixed() {
    static const SharedWord shared(kWord);
    return shared;
}

CCmlException DomFailure(const char16_t* operation, const xercesc::DOMException& e) {
    return CCmlException(operation, Text(e.getMessage()), static_cast<uint32_t>(e.code));
}

uint32_t ReadStatus(const CCmlDOM_Element& element, const char16_t* name) {
    return ReadAutoBaseNumber(element.GetAttribute(name), kStatusNotSet);
}

bool ReadFlag(const CCmlDOM_Element& element, const char16_t* name) { return element.GetAttribute(name) == kTagTrue; }

// The message-table text of `code` on one line, without its identifier (the code stands in
// the attribute beside it). The table does not change while the process runs, so each thread
// keeps the last few texts: a heartbeat names the same few module states over and over. The
// reference is valid until the next call on the same thread.
const std::u16string& StatusTextOf(uint32_t code) {
    struct Entry {
        uint32_t code;
        std::u16string text;
    };
    constexpr std::size_t kKept = 8;
    thread_local std::vector<Entry> kept;
    for (const Entry& entry : kept) {
        if (entry.code == code) return entry.text;
    }
    ZELError error(code);
    std::u16string text = ToUtf16(error.GetText(kStatusTextSingleLine, {}, true));
    if (kept.size() == kKept) kept.erase(kept.begin());
    kept.push_back({code, std::move(text)});
    return kept.back().text;
}

// A CTagText field as a tag name: a shared word is copied as it is.
template <typename CharT>
XmlSink<CharT>& WriteName(XmlSink<CharT>& sink, const CTagText& name) {
    const SharedWord* shared = name.Shared();
    return shared ? sink.Name(shared->word) : sink.Wide(name.Get());
}

// " xmlns='...'" for a CTagText namespace field: a shared word is copied as it is.
template <typename CharT>
XmlSink<CharT>& WriteNamespace(XmlSink<CharT>& sink, const CTagText& uri) {
    const SharedWord* shared = uri.Shared();
    return shared ? sink.Attribute(word::kTagXmlns, shared->word) : sink.Attribute(word::kTagXmlns, uri.Get());
}

template <typename CharT>
void WriteFlagIfTrue(XmlSink<CharT>& sink, const Word& name, bool flag) {
    if (flag) sink.Attribute(name, word::kTagTrue);
}

// " name='0x<hex>' status-text='<text>'".
template <typename CharT>
void WriteStatus(XmlSink<CharT>& sink, const Word& name, uint32_t code) {
    sink.Ascii(" ").Name(name).Ascii("='0x").Hex(code).Ascii("'");
    sink.Attribute(word::kTagStatusText, StatusTextOf(code));
}

template <typename CharT>
void WriteSignedDecimal(XmlSink<CharT>& sink, int32_t value) {
    if (value < 0) {
        sink.Ascii("-").Decimal(static_cast<uint64_t>(-static_cast<int64_t>(value)));
    } else {
        sink.Decimal(static_cast<uint64_t>(value));
    }
}

}  // namespace

// ---- CHostInfo ----

CHostInfo::CHostInfo() : m_tagName(kTagHostInfo), m_namespaceURI(kCmlNamespaceURI) {}

CHostInfo::~CHostInfo() = default;

CHostInfo& CHostInfo::operator=(const CHostInfo& other) {
    if (this != &other) {
        m_tagName = other.m_tagName;
        m_namespaceURI = other.m_namespaceURI;
        m_os = other.m_os;
        m_version = other.m_version;
        m_ipAddress = other.m_ipAddress;
        m_hostName = other.m_hostName;
        m_nbName = other.m_nbName;
        m_nbDomain = other.m_nbDomain;
        m_adObjectId = other.m_adObjectId;
        m_adGroupId = other.m_adGroupId;
    }
    return *this;
}

std::unique_ptr<CHostInfo> CHostInfo::Clone() const { return CloneOrThrow(*this, kOpCloneHostInfo); }

const std::u16string& CHostInfo::GetTagName() const { return m_tagName; }
const std::u16string& CHostInfo::GetNamespaceURI() const { return m_namespaceURI; }
const std::u16string& CHostInfo::GetOs() const { return m_os; }
const std::u16string& CHostInfo::GetVersion() const { return m_version; }
const std::u16string& CHostInfo::GetIpAddress() const { return m_ipAddress; }
const std::u16string& CHostInfo::GetHostName() const { return m_hostName; }
const std::u16string& CHostInfo::GetNbName() const { return m_nbName; }
const std::u16string& CHostInfo::GetNbDomain() const { return m_nbDomain; }
const std::u16string& CHostInfo::GetAdObjectId() const { return m_adObjectId; }
const std::u16string& CHostInfo::GetAdGroupId() const { return m_adGroupId; }
void CHostInfo::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CHostInfo::SetNamespaceURI(const char16_t* namespaceURI) { m_namespaceURI = Text(namespaceURI); }
void CHostInfo::SetOs(const char16_t* os) { m_os = Text(os); }
void CHostInfo::SetVersion(const char16_t* version) { m_version = Text(version); }
void CHostInfo::SetIpAddress(const char16_t* ipAddress) { m_ipAddress = Text(ipAddress); }
void CHostInfo::SetHostName(const char16_t* hostName) { m_hostName = Text(hostName); }
void CHostInfo::SetNbName(const char16_t* nbName) { m_nbName = Text(nbName); }
void CHostInfo::SetNbDomain(const char16_t* nbDomain) { m_nbDomain = Text(nbDomain); }
void CHostInfo::SetAdObjectId(const char16_t* adObjectId) { m_adObjectId = Text(adObjectId); }
void CHostInfo::SetAdGroupId(const char16_t* adGroupId) { m_adGroupId = Text(adGroupId); }

void CHostInfo::Clear() {
    for (std::u16string* value :
         {&m_os, &m_version, &m_ipAddress, &m_hostName, &m_nbName, &m_nbDomain, &m_adObjectId, &m_adGroupId}) {
        value->clear();
    }
}

bool CHostInfo::IsEmpty() const {
    return m_os.empty() && m_version.empty() && m_ipAddress.empty() && m_hostName.empty() && m_nbName.empty() &&
           m_nbDomain.empty() && m_adObjectId.empty() && m_adGroupId.empty();
}

void CHostInfo::Deserialize(const CCmlDOM_Element& element) {
    try {
        m_tagName = element.GetNodeName();
        m_namespaceURI = element.GetNamespaceURI();
        m_os = element.GetAttribute(kTagOs);
        m_version = element.GetAttribute(kTagVersion);
        m_ipAddress = element.GetAttribute(kTagIpAddress);
        m_hostName = element.GetAttribute(kTagHostName);
        m_nbName = element.GetAttribute(kTagNbname);
        m_nbDomain = element.GetAttribute(kTagNbdomain);
        m_adObjectId = element.GetAttribute(kTagAdObjectId);
        m_adGroupId = element.GetAttribute(kTagAdGroupId);
    } catch (const xercesc::DOMException& e) {
        throw DomFailure(kOpParseHostInfo, e);
    }
}

template <typename CharT>
void CHostInfo::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    if (IsEmpty()) return;
    XmlSink<CharT> sink(stream);
    sink.Indent(level).Ascii("<").Wide(m_tagName);
    WriteAttributes(sink);
    sink.Ascii("/>").EndLine();
}

template <typename CharT>
void CHostInfo::WriteAttributes(XmlSink<CharT>& sink) const {
    sink.Attribute(word::kTagXmlns, m_namespaceURI)
        .Attribute(word::kTagOs, m_os)
        .Attribute(word::kTagVersion, m_version);
    sink.AttributeIfSet(word::kTagIpAddress, m_ipAddress);
    sink.AttributeIfSet(word::kTagHostName, m_hostName);
    sink.AttributeIfSet(word::kTagNbname, m_nbName);
    sink.AttributeIfSet(word::kTagNbdomain, m_nbDomain);
    sink.AttributeIfSet(word::kTagAdObjectId, m_adObjectId);
    sink.AttributeIfSet(word::kTagAdGroupId, m_adGroupId);
}

void CHostInfo::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CHostInfo::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CHostInfo::SerializeAttributes(std::ostream& stream) const {
    XmlSink<char> sink(stream);
    WriteAttributes(sink);
}
void CHostInfo::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    XmlSink<char16_t> sink(stream);
    WriteAttributes(sink);
}

// ---- CSchemaInfo ----

CSchemaInfo::CSchemaInfo() = default;

CSchemaInfo::~CSchemaInfo() = default;

const std::u16string& CSchemaInfo::GetNamespace() const { return m_namespace; }
const std::u16string& CSchemaInfo::GetVersion() const { return m_version; }
const std::u16string& CSchemaInfo::GetName() const { return m_name; }
bool CSchemaInfo::GetOverwrite() const { return m_overwrite; }
bool CSchemaInfo::GetRoot() const { return m_root; }
bool CSchemaInfo::GetCpeEditable() const { return m_cpeEditable; }
bool CSchemaInfo::GetGetFromAgent() const { return m_getFromAgent; }
bool CSchemaInfo::GetGetLatestCompatible() const { return m_getLatestCompatible; }
void CSchemaInfo::SetNamespace(const char16_t* namespaceURI) { m_namespace = Text(namespaceURI); }
void CSchemaInfo::SetVersion(const char16_t* version) { m_version = Text(version); }
void CSchemaInfo::SetName(const char16_t* name) { m_name = Text(name); }
void CSchemaInfo::SetOverwrite(bool overwrite) { m_overwrite = overwrite; }
void CSchemaInfo::SetRoot(bool root) { m_root = root; }
void CSchemaInfo::SetCpeEditable(bool cpeEditable) { m_cpeEditable = cpeEditable; }
void CSchemaInfo::SetGetFromAgent(bool getFromAgent) { m_getFromAgent = getFromAgent; }
void CSchemaInfo::SetGetLatestCompatible(bool getLatestCompatible) { m_getLatestCompatible = getLatestCompatible; }

void CSchemaInfo::Deserialize(const CCmlDOM_Element& element) {
    if (element.IsNull()) throw CCmlException(kOpDeserializeSchemaInfo, kTextNullElement, ZEL_E_CML_NULL_ELEMENT);
    try {
        m_namespace = element.GetAttribute(kTagNamespace);
        m_version = element.GetAttribute(kTagVersion);
        m_name = element.GetAttribute(kTagName);
        m_overwrite = ReadFlag(element, kTagOverwrite);
        m_root = ReadFlag(element, kTagRoot);
        m_cpeEditable = ReadFlag(element, kTagCpeEditable);
        m_getFromAgent = ReadFlag(element, kTagGetFromAgent);
        m_getLatestCompatible = ReadFlag(element, kTagGetLatestCompatible);
    } catch (const xercesc::DOMException& e) {
        throw DomFailure(kOpDeserializeSchemaInfo, e);
    }
}

template <typename CharT>
void CSchemaInfo::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    XmlSink<CharT> sink(stream);
    sink.Attribute(word::kTagNamespace, m_namespace);
    sink.AttributeIfSet(word::kTagVersion, m_version);
    sink.AttributeIfSet(word::kTagName, m_name);
    WriteFlagIfTrue(sink, word::kTagOverwrite, m_overwrite);
    WriteFlagIfTrue(sink, word::kTagRoot, m_root);
    WriteFlagIfTrue(sink, word::kTagCpeEditable, m_cpeEditable);
    WriteFlagIfTrue(sink, word::kTagGetFromAgent, m_getFromAgent);
    WriteFlagIfTrue(sink, word::kTagGetLatestCompatible, m_getLatestCompatible);
}

template <typename CharT>
void CSchemaInfo::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT>(stream).Indent(level).Ascii("<").Name(word::kTagSchemaInfo);
    // Virtual: an item class adds its own attributes after these.
    SerializeAttributes(stream);
    XmlSink<CharT>(stream).Ascii("/>").EndLine();
}

void CSchemaInfo::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CSchemaInfo::SerializeAttributes(std::basic_ostream<char16_t>& stream) const { SerializeAttributesImpl(stream); }
void CSchemaInfo::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CSchemaInfo::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }

// ---- CContentDate ----

CContentDate::CContentDate()
    : m_tagName(Fixed<word::kTagContentDate>()), m_namespaceURI(Fixed<word::kCmlNamespaceURI>()) {}

CContentDate::~CContentDate() = default;

CContentDate& CContentDate::operator=(const CContentDate& other) {
    if (this != &other) {
        m_tagName = other.m_tagName;
        m_namespaceURI = other.m_namespaceURI;
        m_identity = other.m_identity;
        m_date = other.m_date;
    }
    return *this;
}

std::unique_ptr<CContentDate> CContentDate::Clone() const { return CloneOrThrow(*this, kOpCloneContentDate); }

const std::u16string& CContentDate::GetTagName() const { return m_tagName.Get(); }
const std::u16string& CContentDate::GetNamespaceURI() const { return m_namespaceURI.Get(); }
const std::u16string& CContentDate::GetIdentity() const { return m_identity; }
const std::u16string& CContentDate::GetDate() const { return m_date; }
void CContentDate::SetTagName(const char16_t* tagName) {
    AssignTagText(m_tagName, View(tagName), Fixed<word::kTagContentDate>());
}
void CContentDate::SetNamespaceURI(const char16_t* namespaceURI) {
    AssignTagText(m_namespaceURI, View(namespaceURI), Fixed<word::kCmlNamespaceURI>());
}
void CContentDate::SetIdentity(const char16_t* identity) { m_identity = Text(identity); }
void CContentDate::SetDate(const char16_t* date) { m_date = Text(date); }

void CContentDate::Deserialize(const CCmlDOM_Element& element) {
    try {
        AssignTagText(m_tagName, element.NodeNameView(), Fixed<word::kTagContentDate>());
        AssignTagText(m_namespaceURI, element.NamespaceURIView(), Fixed<word::kCmlNamespaceURI>());
        m_identity = element.GetAttribute(kTagIdentity);
        m_date = element.GetAttribute(kTagDate);
    } catch (const xercesc::DOMException& e) {
        throw DomFailure(kOpParseContentDate, e);
    }
}

template <typename CharT>
void CContentDate::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT> sink(stream);
    WriteName(sink.Indent(level).Ascii("<"), m_tagName);
    WriteAttributes(sink);
    sink.Ascii("/>").EndLine();
}

template <typename CharT>
void CContentDate::WriteAttributes(XmlSink<CharT>& sink) const {
    WriteNamespace(sink, m_namespaceURI)
        .Attribute(word::kTagIdentity, m_identity)
        .Attribute(word::kTagDate, m_date);
}

void CContentDate::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CContentDate::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CContentDate::SerializeAttributes(std::ostream& stream) const {
    XmlSink<char> sink(stream);
    WriteAttributes(sink);
}
void CContentDate::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    XmlSink<char16_t> sink(stream);
    WriteAttributes(sink);
}

// ---- CNameValuePair ----

CNameValuePair::CNameValuePair() : CNameValuePair(nullptr, nullptr) {}

CNameValuePair::CNameValuePair(const char16_t* name, const char16_t* value)
    : m_tagName(Fixed<word::kTagParam>()),
      m_namespaceURI(Fixed<word::kCommonNamespaceURI>()),
      m_name(Text(name)),
      m_value(Text(value)),
      m_ordinal(kNoOrdinal) {}

CNameValuePair::~CNameValuePair() = default;

CNameValuePair& CNameValuePair::operator=(const CNameValuePair& other) {
    if (this != &other) {
        m_tagName = other.m_tagName;
        m_namespaceURI = other.m_namespaceURI;
        m_name = other.m_name;
        m_value = other.m_value;
        m_ordinal = other.m_ordinal;
    }
    return *this;
}

std::unique_ptr<CNameValuePair> CNameValuePair::Clone() const { return CloneOrThrow(*this, kOpCloneParam); }

const std::u16string& CNameValuePair::GetTagName() const { return m_tagName.Get(); }
const std::u16string& CNameValuePair::GetNamespaceURI() const { return m_namespaceURI.Get(); }
const std::u16string& CNameValuePair::GetName() const { return m_name; }
const std::u16string& CNameValuePair::GetValue() const { return m_value; }
int32_t CNameValuePair::GetOrdinal() const { return m_ordinal; }
void CNameValuePair::SetTagName(const char16_t* tagName) {
    AssignTagText(m_tagName, View(tagName), Fixed<word::kTagParam>());
}
void CNameValuePair::SetNamespaceURI(const char16_t* namespaceURI) {
    AssignTagText(m_namespaceURI, View(namespaceURI), Fixed<word::kCommonNamespaceURI>());
}
void CNameValuePair::SetName(const char16_t* name) { m_name = Text(name); }
void CNameValuePair::SetValue(const char16_t* value) { m_value = Text(value); }
void CNameValuePair::SetOrdinal(int32_t ordinal) { m_ordinal = ordinal; }

void CNameValuePair::Deserialize(const CCmlDOM_Element& element) {
    try {
        AssignTagText(m_tagName, element.NodeNameView(), Fixed<word::kTagParam>());
        AssignTagText(m_namespaceURI, element.NamespaceURIView(), Fixed<word::kCommonNamespaceURI>());
        m_name = element.GetAttribute(kTagName);
        m_value = element.GetAttribute(kTagValue);
        m_ordinal = static_cast<int32_t>(
            ReadAutoBaseNumber(element.GetAttribute(kTagOrdinal), static_cast<uint32_t>(kNoOrdinal)));
    } catch (const xercesc::DOMException& e) {
        throw DomFailure(kOpParseParam, e);
    }
}

template <typename CharT>
void CNameValuePair::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT> sink(stream);
    WriteName(sink.Indent(level).Ascii("<"), m_tagName);
    WriteAttributes(sink);
    sink.Ascii("/>").EndLine();
}

template <typename CharT>
void CNameValuePair::WriteAttributes(XmlSink<CharT>& sink) const {
    WriteNamespace(sink, m_namespaceURI)
        .Attribute(word::kTagName, m_name)
        .Attribute(word::kTagValue, m_value);
    if (m_ordinal != kNoOrdinal) {
        sink.Ascii(" ").Name(word::kTagOrdinal).Ascii("='");
        WriteSignedDecimal(sink, m_ordinal);
        sink.Ascii("'");
    }
}

void CNameValuePair::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CNameValuePair::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CNameValuePair::SerializeAttributes(std::ostream& stream) const {
    XmlSink<char> sink(stream);
    WriteAttributes(sink);
}
void CNameValuePair::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    XmlSink<char16_t> sink(stream);
    WriteAttributes(sink);
}

// ---- CModuleInfo ----

CModuleInfo::CModuleInfo()
    : CPolicyList(kModulePolicyTexts),
      m_tagName(Fixed<word::kTagModule>()),
      m_namespaceURI(Fixed<word::kCmlNamespaceURI>()),
      m_status(kStatusNotSet) {}

CModuleInfo::CModuleInfo(const CModuleInfo& other) = default;

CModuleInfo::CModuleInfo(CModuleInfo&& other) noexcept = default;

CModuleInfo::~CModuleInfo() = default;

CModuleInfo& CModuleInfo::operator=(const CModuleInfo& other) {
    if (this != &other) {
        // Copy, then move: a failure while copying (memory, a policy clone) leaves this as it was.
        *this = CModuleInfo(other);
    }
    return *this;
}

CModuleInfo& CModuleInfo::operator=(CModuleInfo&& other) noexcept = default;

std::unique_ptr<CModuleInfo> CModuleInfo::Clone() const { return CloneOrThrow(*this, kOpCloneModule); }

const std::u16string& CModuleInfo::GetTagName() const { return m_tagName.Get(); }
const std::u16string& CModuleInfo::GetNamespaceURI() const { return m_namespaceURI.Get(); }
const std::u16string& CModuleInfo::GetName() const { return m_name; }
const std::u16string& CModuleInfo::GetVersion() const { return m_version; }
uint32_t CModuleInfo::GetStatus() const { return m_status; }
void CModuleInfo::SetTagName(const char16_t* tagName) {
    AssignTagText(m_tagName, View(tagName), Fixed<word::kTagModule>());
}
void CModuleInfo::SetNamespaceURI(const char16_t* namespaceURI) {
    AssignTagText(m_namespaceURI, View(namespaceURI), Fixed<word::kCmlNamespaceURI>());
}
void CModuleInfo::SetName(const char16_t* name) { m_name = Text(name); }
void CModuleInfo::SetVersion(const char16_t* version) { m_version = Text(version); }
void CModuleInfo::SetStatus(uint32_t status) { m_status = status; }

const NameValuePairVector& CModuleInfo::GetParams() const { return m_params; }
NameValuePairVector& CModuleInfo::GetParams() { return m_params; }
std::size_t CModuleInfo::GetParamCount() const { return m_params.size(); }

CNameValuePair& CModuleInfo::AddParam(const char16_t* name, const char16_t* value) {
    m_params.emplace_back(name, value);
    return m_params.back();
}

CNameValuePair& CModuleInfo::AddParam(const CNameValuePair& param) {
    m_params.push_back(param);
    return m_params.back();
}

void CModuleInfo::CollectNamespaces(NamespaceSet& namespaces) const { CollectPolicyNamespaces(namespaces); }

bool CModuleInfo::HasContent() const { return GetPolicyCount() != 0 || !m_params.empty(); }

void CModuleInfo::Deserialize(const CCmlDOM_Element& element) {
    m_params.clear();
    ClearPolicies();
    try {
        AssignTagText(m_tagName, element.NodeNameView(), Fixed<word::kTagModule>());
        AssignTagText(m_namespaceURI, element.NamespaceURIView(), Fixed<word::kCmlNamespaceURI>());
        m_name = element.GetAttribute(kTagName);
        m_version = element.GetAttribute(kTagVersion);
        m_status = ReadStatus(element, kTagStatus);
        ForEachChildElement(element, [this](const CCmlDOM_Element& child) {
            if (Equals(child.GetNode()->getNamespaceURI(), kCommonNamespaceURI)) {
                if (Equals(child.GetNode()->getNodeName(), kTagParam)) {
                    m_params.emplace_back();
                    m_params.back().Deserialize(child);
                }
                return;
            }
            // A policy takes the place of the parameters: those read so far are dropped.
            m_params.clear();
            AddPolicy(child);
        });
    } catch (const xercesc::DOMException& e) {
        throw DomFailure(kOpParseModule, e);
    }
}

template <typename CharT>
void CModuleInfo::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT> sink(stream);
    WriteName(sink.Indent(level).Ascii("<"), m_tagName);
    WriteAttributes(sink);
    if (!HasContent()) {
        sink.Ascii("/>").EndLine();
        return;
    }
    sink.Ascii(">").EndLine();
    SerializeContent(stream, level + 1);
    XmlSink<CharT> end(stream);
    WriteName(end.Indent(level).Ascii("</"), m_tagName).Ascii(">").EndLine();
}

template <typename CharT>
void CModuleInfo::WriteAttributes(XmlSink<CharT>& sink) const {
    WriteNamespace(sink, m_namespaceURI)
        .Attribute(word::kTagName, m_name)
        .Attribute(word::kTagVersion, m_version);
    if (m_status != kStatusNotSet) WriteStatus(sink, word::kTagStatus, m_status);
}

template <typename CharT>
void CModuleInfo::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    if (GetPolicyCount() != 0) {
        SerializePolicies(stream, level);
        return;
    }
    for (const CNameValuePair& param : m_params) param.Serialize(stream, level);
}

void CModuleInfo::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CModuleInfo::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CModuleInfo::SerializeAttributes(std::ostream& stream) const {
    XmlSink<char> sink(stream);
    WriteAttributes(sink);
}
void CModuleInfo::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    XmlSink<char16_t> sink(stream);
    WriteAttributes(sink);
}
void CModuleInfo::SerializeContent(std::ostream& stream, int level) const { SerializeContentImpl(stream, level); }
void CModuleInfo::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

// ---- CUpdateInfo ----

CUpdateInfo::CUpdateInfo() : m_tagName(Fixed<word::kTagUpdate>()), m_namespaceURI(Fixed<word::kCmlNamespaceURI>()) {}

CUpdateInfo::~CUpdateInfo() = default;

CUpdateInfo& CUpdateInfo::operator=(const CUpdateInfo& other) {
    if (this != &other) {
        m_tagName = other.m_tagName;
        m_namespaceURI = other.m_namespaceURI;
        m_module = other.m_module;
        m_type = other.m_type;
        m_version = other.m_version;
    }
    return *this;
}

std::unique_ptr<CUpdateInfo> CUpdateInfo::Clone() const { return CloneOrThrow(*this, kOpCloneUpdate); }

const std::u16string& CUpdateInfo::GetTagName() const { return m_tagName.Get(); }
const std::u16string& CUpdateInfo::GetNamespaceURI() const { return m_namespaceURI.Get(); }
const std::u16string& CUpdateInfo::GetModule() const { return m_module; }
const std::u16string& CUpdateInfo::GetType() const { return m_type; }
const std::u16string& CUpdateInfo::GetVersion() const { return m_version; }
void CUpdateInfo::SetTagName(const char16_t* tagName) {
    AssignTagText(m_tagName, View(tagName), Fixed<word::kTagUpdate>());
}
void CUpdateInfo::SetNamespaceURI(const char16_t* namespaceURI) {
    AssignTagText(m_namespaceURI, View(namespaceURI), Fixed<word::kCmlNamespaceURI>());
}
void CUpdateInfo::SetModule(const char16_t* module) { m_module = Text(module); }
void CUpdateInfo::SetType(const char16_t* type) { m_type = Text(type); }
void CUpdateInfo::SetVersion(const char16_t* version) { m_version = Text(version); }

void CUpdateInfo::Deserialize(const CCmlDOM_Element& element) {
    try {
        AssignTagText(m_tagName, element.NodeNameView(), Fixed<word::kTagUpdate>());
        AssignTagText(m_namespaceURI, element.NamespaceURIView(), Fixed<word::kCmlNamespaceURI>());
        m_module = element.GetAttribute(kTagModule);
        m_type = element.GetAttribute(kTagType);
        m_version = element.GetAttribute(kTagVersion);
    } catch (const xercesc::DOMException& e) {
        throw DomFailure(kOpParseUpdate, e);
    }
}

template <typename CharT>
void CUpdateInfo::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT> sink(stream);
    WriteName(sink.Indent(level).Ascii("<"), m_tagName);
    WriteAttributes(sink);
    sink.Ascii("/>").EndLine();
}

template <typename CharT>
void CUpdateInfo::WriteAttributes(XmlSink<CharT>& sink) const {
    WriteNamespace(sink, m_namespaceURI);
    sink.AttributeIfSet(word::kTagModule, m_module);
    sink.AttributeIfSet(word::kTagType, m_type);
    sink.AttributeIfSet(word::kTagVersion, m_version);
}

void CUpdateInfo::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CUpdateInfo::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CUpdateInfo::SerializeAttributes(std::ostream& stream) const {
    XmlSink<char> sink(stream);
    WriteAttributes(sink);
}
void CUpdateInfo::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    XmlSink<char16_t> sink(stream);
    WriteAttributes(sink);
}

// ---- CTaskDescriptorContent ----

CTaskDescriptorContent::CTaskDescriptorContent()
    : m_tagName(kTagDescriptorContent), m_minOccurs(kOne), m_maxOccurs(kOne) {}

CTaskDescriptorContent::~CTaskDescriptorContent() = default;

CTaskDescriptorContent& CTaskDescriptorContent::operator=(const CTaskDescriptorContent& other) {
    if (this != &other) {
        m_tagName = other.m_tagName;
        m_namespace = other.m_namespace;
        m_minOccurs = other.m_minOccurs;
        m_maxOccurs = other.m_maxOccurs;
        m_identity = other.m_identity;
        m_policyRef = other.m_policyRef;
        m_global = other.m_global;
    }
    return *this;
}

std::unique_ptr<CTaskDescriptorContent> CTaskDescriptorContent::Clone() const {
    return CloneOrThrow(*this, kOpCloneDescriptor);
}

const std::u16string& CTaskDescriptorContent::GetTagName() const { return m_tagName; }
const std::u16string& CTaskDescriptorContent::GetNamespace() const { return m_namespace; }
const std::u16string& CTaskDescriptorContent::GetMinOccurs() const { return m_minOccurs; }
const std::u16string& CTaskDescriptorContent::GetMaxOccurs() const { return m_maxOccurs; }
const std::u16string& CTaskDescriptorContent::GetIdentity() const { return m_identity; }
bool CTaskDescriptorContent::GetPolicyRef() const { return m_policyRef; }
bool CTaskDescriptorContent::GetGlobal() const { return m_global; }
void CTaskDescriptorContent::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CTaskDescriptorContent::SetNamespace(const char16_t* namespaceURI) { m_namespace = Text(namespaceURI); }
void CTaskDescriptorContent::SetMinOccurs(const char16_t* minOccurs) { m_minOccurs = Text(minOccurs); }
void CTaskDescriptorContent::SetMaxOccurs(const char16_t* maxOccurs) { m_maxOccurs = Text(maxOccurs); }
void CTaskDescriptorContent::SetIdentity(const char16_t* identity) { m_identity = Text(identity); }
void CTaskDescriptorContent::SetPolicyRef(bool policyRef) { m_policyRef = policyRef; }
void CTaskDescriptorContent::SetGlobal(bool global) { m_global = global; }

void CTaskDescriptorContent::Deserialize(const CCmlDOM_Element& element) {
    try {
        m_tagName = element.GetNodeName();
        m_namespace = element.GetAttribute(kTagNamespace);
        m_minOccurs = element.GetAttribute(kTagMinOccurs);
        m_maxOccurs = element.GetAttribute(kTagMaxOccurs);
        m_identity = element.GetAttribute(kTagIdentity);
        m_policyRef = ReadFlag(element, kTagPolicyRef);
        m_global = ReadFlag(element, kTagGlobal);
    } catch (const xercesc::DOMException& e) {
        throw DomFailure(kOpParseDescriptor, e);
    }
}

template <typename CharT>
void CTaskDescriptorContent::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT> sink(stream);
    sink.Indent(level).Ascii("<").Wide(m_tagName);
    WriteAttributes(sink);
    sink.Ascii("/>").EndLine();
}

template <typename CharT>
void CTaskDescriptorContent::WriteAttributes(XmlSink<CharT>& sink) const {
    sink.Attribute(word::kTagNamespace, m_namespace);
    // A bound of exactly one is the schema's default and is left out.
    if (!m_minOccurs.empty() && m_minOccurs != kOne) sink.Attribute(word::kTagMinOccurs, m_minOccurs);
    if (!m_maxOccurs.empty() && m_maxOccurs != kOne) sink.Attribute(word::kTagMaxOccurs, m_maxOccurs);
    sink.AttributeIfSet(word::kTagIdentity, m_identity);
    WriteFlagIfTrue(sink, word::kTagPolicyRef, m_policyRef);
    WriteFlagIfTrue(sink, word::kTagGlobal, m_global);
}

void CTaskDescriptorContent::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CTaskDescriptorContent::Serialize(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeImpl(stream, level);
}
void CTaskDescriptorContent::SerializeAttributes(std::ostream& stream) const {
    XmlSink<char> sink(stream);
    WriteAttributes(sink);
}
void CTaskDescriptorContent::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    XmlSink<char16_t> sink(stream);
    WriteAttributes(sink);
}

// ---- CTaskInfoItem ----

CTaskInfoItem::CTaskInfoItem() = default;

CTaskInfoItem::~CTaskInfoItem() = default;

CTaskInfoItem& CTaskInfoItem::operator=(const CTaskInfoItem& other) {
    if (this != &other) {
        m_tagName = other.m_tagName;
        m_action = other.m_action;
        m_message = other.m_message;
        m_descriptors = other.m_descriptors;
    }
    return *this;
}

std::unique_ptr<CTaskInfoItem> CTaskInfoItem::Clone() const { return CloneOrThrow(*this, kOpCloneTaskInfo); }

const std::u16string& CTaskInfoItem::GetTagName() const { return m_tagName; }
const std::u16string& CTaskInfoItem::GetAction() const { return m_action; }
const std::u16string& CTaskInfoItem::GetMessage() const { return m_message; }
void CTaskInfoItem::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CTaskInfoItem::SetAction(const char16_t* action) { m_action = Text(action); }
void CTaskInfoItem::SetMessage(const char16_t* message) { m_message = Text(message); }

const TaskDescriptorVector& CTaskInfoItem::GetDescriptors() const { return m_descriptors; }
TaskDescriptorVector& CTaskInfoItem::GetDescriptors() { return m_descriptors; }

CTaskDescriptorContent& CTaskInfoItem::AddDescriptor(const CTaskDescriptorContent& descriptor) {
    m_descriptors.push_back(descriptor);
    return m_descriptors.back();
}

void CTaskInfoItem::Deserialize(const CCmlDOM_Element& element) {
    m_descriptors.clear();
    try {
        m_tagName = element.GetNodeName();
        m_action = element.GetAttribute(kTagAction);
        m_message = element.GetAttribute(kTagMessage);
        ReadList(element, kCmlNamespaceURI, kTagDescriptorContent, m_descriptors);
    } catch (const xercesc::DOMException& e) {
        throw DomFailure(kOpParseTaskInfo, e);
    }
}

template <typename CharT>
void CTaskInfoItem::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT> sink(stream);
    sink.Indent(level).Ascii("<").Wide(m_tagName);
    WriteAttributes(sink);
    if (m_descriptors.empty()) {
        sink.Ascii("/>").EndLine();
        return;
    }
    sink.Ascii(">").EndLine();
    for (const CTaskDescriptorContent& descriptor : m_descriptors) descriptor.Serialize(stream, level + 1);
    XmlSink<CharT>(stream).Indent(level).Ascii("</").Wide(m_tagName).Ascii(">").EndLine();
}

template <typename CharT>
void CTaskInfoItem::WriteAttributes(XmlSink<CharT>& sink) const {
    sink.Attribute(word::kTagAction, m_action).Attribute(word::kTagMessage, m_message);
}

void CTaskInfoItem::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CTaskInfoItem::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CTaskInfoItem::SerializeAttributes(std::ostream& stream) const {
    XmlSink<char> sink(stream);
    WriteAttributes(sink);
}
void CTaskInfoItem::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    XmlSink<char16_t> sink(stream);
    WriteAttributes(sink);
}

// ---- CAgentInfoContent ----

CAgentInfoContent::CAgentInfoContent()
    : CPolicyList(kContentPolicyTexts), m_agentStatus(kStatusNotSet), m_qpkStatus(kStatusNotSet) {}

CAgentInfoContent::CAgentInfoContent(const CAgentInfoContent& other)
    : CPolicyList(other),
      m_name(other.m_name),
      m_agentId(other.m_agentId),
      m_namespace(other.m_namespace),
      m_version(other.m_version),
      m_model(other.m_model),
      m_qpkVersion(other.m_qpkVersion),
      m_agentInstallPath(other.m_agentInstallPath),
      m_daemonInstallPath(other.m_daemonInstallPath),
      m_agentStatus(other.m_agentStatus),
      m_lastQpkPath(other.m_lastQpkPath),
      m_qpkStatus(other.m_qpkStatus),
      m_qpkStatusDescription(other.m_qpkStatusDescription),
      m_groupnameHint(other.m_groupnameHint),
      m_useLocalSettings(other.m_useLocalSettings),
      m_sendNewSchemas(other.m_sendNewSchemas),
      m_registerAgent(other.m_registerAgent),
      m_hostInfo(other.m_hostInfo),
      m_schemas(other.m_schemas),
      m_contentDates(other.m_contentDates),
      m_modules(other.m_modules),
      m_updates(other.m_updates),
      m_tasks(other.m_tasks),
      m_params(other.m_params) {}

CAgentInfoContent::CAgentInfoContent(CAgentInfoContent&& other) noexcept = default;

CAgentInfoContent::~CAgentInfoContent() = default;

CAgentInfoContent& CAgentInfoContent::operator=(const CAgentInfoContent& other) {
    // Copy, then move: a failure while copying (memory, a policy clone) leaves this as it was.
    if (this != &other) *this = CAgentInfoContent(other);
    return *this;
}

CAgentInfoContent& CAgentInfoContent::operator=(CAgentInfoContent&& other) noexcept = default;

void CAgentInfoContent::CollectNamespaces(NamespaceSet& namespaces) const {
    for (const CModuleInfo& module : m_modules) module.CollectNamespaces(namespaces);
    CollectPolicyNamespaces(namespaces);
}

const std::u16string& CAgentInfoContent::GetName() const { return m_name; }
const std::u16string& CAgentInfoContent::GetAgentId() const { return m_agentId; }
const std::u16string& CAgentInfoContent::GetNamespace() const { return m_namespace; }
const std::u16string& CAgentInfoContent::GetVersion() const { return m_version; }
const std::u16string& CAgentInfoContent::GetModel() const { return m_model; }
const std::u16string& CAgentInfoContent::GetQpkVersion() const { return m_qpkVersion; }
const std::u16string& CAgentInfoContent::GetAgentInstallPath() const { return m_agentInstallPath; }
const std::u16string& CAgentInfoContent::GetDaemonInstallPath() const { return m_daemonInstallPath; }
const std::u16string& CAgentInfoContent::GetGroupnameHint() const { return m_groupnameHint; }
bool CAgentInfoContent::GetUseLocalSettings() const { return m_useLocalSettings; }
bool CAgentInfoContent::GetSendNewSchemas() const { return m_sendNewSchemas; }
const std::u16string& CAgentInfoContent::GetRegisterAgent() const { return m_registerAgent; }
uint32_t CAgentInfoContent::GetAgentStatus() const { return m_agentStatus; }
const std::u16string& CAgentInfoContent::GetLastQpkPath() const { return m_lastQpkPath; }
uint32_t CAgentInfoContent::GetQpkStatus() const { return m_qpkStatus; }
const std::u16string& CAgentInfoContent::GetQpkStatusDescription() const { return m_qpkStatusDescription; }

const ModuleInfoVector& CAgentInfoContent::GetModules() const { return m_modules; }
ModuleInfoVector& CAgentInfoContent::GetModules() { return m_modules; }
std::size_t CAgentInfoContent::GetModuleCount() const { return m_modules.size(); }
std::size_t CAgentInfoContent::GetContentDateCount() const { return m_contentDates.size(); }

void CAgentInfoContent::GetContentDate(std::size_t index, std::u16string& identity, std::u16string& date) const {
    if (index >= m_contentDates.size()) {
        throw CCmlException(kOpGetContentDate, kTextInvalidVectorIndex, ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
    }
    identity = m_contentDates[index].GetIdentity();
    date = m_contentDates[index].GetDate();
}

const CHostInfo& CAgentInfoContent::GetHostInfo() const { return m_hostInfo; }
CHostInfo& CAgentInfoContent::GetHostInfo() { return m_hostInfo; }
const SchemaInfoVector& CAgentInfoContent::GetSchemas() const { return m_schemas; }
SchemaInfoVector& CAgentInfoContent::GetSchemas() { return m_schemas; }
std::size_t CAgentInfoContent::GetSchemaCount() const { return m_schemas.size(); }
const ContentDateVector& CAgentInfoContent::GetContentDates() const { return m_contentDates; }
ContentDateVector& CAgentInfoContent::GetContentDates() { return m_contentDates; }
const UpdateInfoVector& CAgentInfoContent::GetUpdates() const { return m_updates; }
UpdateInfoVector& CAgentInfoContent::GetUpdates() { return m_updates; }
std::size_t CAgentInfoContent::GetUpdateCount() const { return m_updates.size(); }
const TaskInfoVector& CAgentInfoContent::GetTasks() const { return m_tasks; }
TaskInfoVector& CAgentInfoContent::GetTasks() { return m_tasks; }
std::size_t CAgentInfoContent::GetTaskCount() const { return m_tasks.size(); }
const NameValuePairVector& CAgentInfoContent::GetParams() const { return m_params; }
NameValuePairVector& CAgentInfoContent::GetParams() { return m_params; }
std::size_t CAgentInfoContent::GetParamCount() const { return m_params.size(); }

void CAgentInfoContent::SetName(const char16_t* name) { m_name = Text(name); }
void CAgentInfoContent::SetAgentId(const char16_t* agentId) { m_agentId = Text(agentId); }
void CAgentInfoContent::SetNamespace(const char16_t* namespaceURI) { m_namespace = Text(namespaceURI); }
void CAgentInfoContent::SetVersion(const char16_t* version) { m_version = Text(version); }
void CAgentInfoContent::SetModel(const char16_t* model) { m_model = Text(model); }
void CAgentInfoContent::SetQpkVersion(const char16_t* qpkVersion) { m_qpkVersion = Text(qpkVersion); }
void CAgentInfoContent::SetAgentInstallPath(const char16_t* path) { m_agentInstallPath = Text(path); }
void CAgentInfoContent::SetDaemonInstallPath(const char16_t* path) { m_daemonInstallPath = Text(path); }
void CAgentInfoContent::SetGroupnameHint(const char16_t* hint) { m_groupnameHint = Text(hint); }
void CAgentInfoContent::SetUseLocalSettings(bool useLocalSettings) { m_useLocalSettings = useLocalSettings; }
void CAgentInfoContent::SetSendNewSchemas(bool sendNewSchemas) { m_sendNewSchemas = sendNewSchemas; }
void CAgentInfoContent::SetRegisterAgent(const char16_t* registerAgent) { m_registerAgent = Text(registerAgent); }
void CAgentInfoContent::SetAgentStatus(uint32_t status) { m_agentStatus = status; }
void CAgentInfoContent::SetLastQpkPath(const char16_t* path) { m_lastQpkPath = Text(path); }
void CAgentInfoContent::SetQpkStatus(uint32_t status) { m_qpkStatus = status; }
void CAgentInfoContent::SetQpkStatusDescription(const char16_t* description) {
    m_qpkStatusDescription = Text(description);
}

void CAgentInfoContent::SetHostInfo(const CHostInfo& hostInfo) { m_hostInfo = hostInfo; }

CSchemaInfo& CAgentInfoContent::AddSchemaInfo(const CSchemaInfo& schema) {
    m_schemas.push_back(schema);
    return m_schemas.back();
}

CSchemaInfo& CAgentInfoContent::AddSchemaInfo(CSchemaInfo&& schema) {
    m_schemas.push_back(std::move(schema));
    return m_schemas.back();
}

CContentDate& CAgentInfoContent::AddContentDate(const CContentDate& contentDate) {
    m_contentDates.push_back(contentDate);
    return m_contentDates.back();
}

CContentDate& CAgentInfoContent::AddContentDate(const char16_t* identity, const char16_t* date) {
    CContentDate entry;
    entry.SetIdentity(identity);
    entry.SetDate(date);
    m_contentDates.push_back(std::move(entry));
    return m_contentDates.back();
}

CModuleInfo& CAgentInfoContent::AddModuleInfo(const CModuleInfo& module) {
    m_modules.push_back(module);
    m_modules.back().SetNamespaceURI(kCmlNamespaceURI);
    return m_modules.back();
}

CModuleInfo& CAgentInfoContent::AddModuleInfo(CModuleInfo&& module) {
    m_modules.push_back(std::move(module));
    CModuleInfo& stored = m_modules.back();
    // A module made here refers to the fixed namespace text already: no need to compare.
    if (&stored.GetNamespaceURI() != &Fixed<word::kCmlNamespaceURI>().text) stored.SetNamespaceURI(kCmlNamespaceURI);
    return stored;
}

CUpdateInfo& CAgentInfoContent::AddUpdateInfo(const CUpdateInfo& update) {
    m_updates.push_back(update);
    return m_updates.back();
}

CTaskInfoItem& CAgentInfoContent::AddTaskInfo(const CTaskInfoItem& task) {
    m_tasks.push_back(task);
    return m_tasks.back();
}

CNameValuePair& CAgentInfoContent::AddParam(const char16_t* name, const char16_t* value) {
    m_params.emplace_back(name, value);
    return m_params.back();
}

CNameValuePair& CAgentInfoContent::AddParam(const CNameValuePair& param) {
    m_params.push_back(param);
    return m_params.back();
}

bool CAgentInfoContent::HasContent() const {
    return !m_hostInfo.IsEmpty() || !m_schemas.empty() || !m_contentDates.empty() || !m_modules.empty() ||
           !m_updates.empty() || !m_tasks.empty() || GetPolicyCount() != 0 || !m_params.empty();
}

void CAgentInfoContent::Deserialize(const CCmlDOM_Element& element) {
    // Reading starts from nothing: host information too stays empty when the element has none.
    m_hostInfo = CHostInfo();
    m_schemas.clear();
    m_contentDates.clear();
    m_modules.clear();
    m_updates.clear();
    m_tasks.clear();
    m_params.clear();
    ClearPolicies();
    try {
        m_name = element.GetAttribute(kTagName);
        m_agentId = element.GetAttribute(kTagAgentId);
        m_namespace = element.GetAttribute(kTagNamespace);
        m_version = element.GetAttribute(kTagVersion);
        m_model = element.GetAttribute(kTagModel);
        m_qpkVersion = element.GetAttribute(kTagQpkVersion);
        m_agentInstallPath = element.GetAttribute(kTagAgentInstallPath);
        m_daemonInstallPath = element.GetAttribute(kTagDaemonInstallPath);
        m_lastQpkPath = element.GetAttribute(kTagLastQpkPath);
        m_qpkStatusDescription = element.GetAttribute(kTagQpkStatusDescription);
        m_groupnameHint = element.GetAttribute(kTagGroupnameHint);
        m_useLocalSettings = element.GetAttribute(kTagUseLocalSettings) == kTagTrue;
        m_sendNewSchemas = element.GetAttribute(kTagSendNewSchemas) != kTagFalse;
        m_registerAgent = element.GetAttribute(kTagRegisterAgent);
        m_agentStatus = ReadStatus(element, kTagAgentStatus);
        m_qpkStatus = ReadStatus(element, kTagQpkStatus);

        ForEachChildElement(element, [this](const CCmlDOM_Element& child) {
            if (!Equals(child.GetNode()->getNamespaceURI(), kCmlNamespaceURI)) {
                // A policy document takes the place of the parameters read so far.
                m_params.clear();
                AddPolicy(child);
                return;
            }
            const XMLCh* name = child.GetNode()->getNodeName();
            if (Equals(name, kTagHostInfo)) {
                m_hostInfo.Deserialize(child);
            } else if (Equals(name, kTagSchemaList)) {
                ReadList(child, kCmlNamespaceURI, kTagSchemaInfo, m_schemas);
            } else if (Equals(name, kTagContentDateList)) {
                ReadList(child, kCmlNamespaceURI, kTagContentDate, m_contentDates);
            } else if (Equals(name, kTagModuleList)) {
                ReadList(child, kCmlNamespaceURI, kTagModule, m_modules);
            } else if (Equals(name, kTagUpdateList)) {
                ReadList(child, kCmlNamespaceURI, kTagUpdate, m_updates);
            } else if (Equals(name, kTagAgentParameters)) {
                ReadList(child, kCommonNamespaceURI, kTagParam, m_params);
            } else if (Equals(name, kTagTaskList)) {
                ReadList(child, kCmlNamespaceURI, kTagTaskInfo, m_tasks);
            }
        });
    } catch (const xercesc::DOMException& e) {
        throw DomFailure(kOpParseContent, e);
    }
}

template <typename CharT>
void CAgentInfoContent::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    XmlSink<CharT> sink(stream);
    sink.Attribute(word::kTagName, m_name)
        .Attribute(word::kTagAgentId, m_agentId)
        .Attribute(word::kTagNamespace, m_namespace)
        .Attribute(word::kTagVersion, m_version);
    sink.AttributeIfSet(word::kTagModel, m_model);
    sink.AttributeIfSet(word::kTagQpkVersion, m_qpkVersion);
    sink.AttributeIfSet(word::kTagAgentInstallPath, m_agentInstallPath);
    sink.AttributeIfSet(word::kTagDaemonInstallPath, m_daemonInstallPath);
    if (m_agentStatus != kStatusNotSet) WriteStatus(sink, word::kTagAgentStatus, m_agentStatus);
    sink.AttributeIfSet(word::kTagLastQpkPath, m_lastQpkPath);
    if (m_qpkStatus != kStatusNotSet) {
        sink.Ascii(" ").Name(word::kTagQpkStatus).Ascii("='");
        WriteSignedDecimal(sink, static_cast<int32_t>(m_qpkStatus));
        sink.Ascii("'");
    }
    sink.AttributeIfSet(word::kTagQpkStatusDescription, m_qpkStatusDescription);
    sink.AttributeIfSet(word::kTagGroupnameHint, m_groupnameHint);
    WriteFlagIfTrue(sink, word::kTagUseLocalSettings, m_useLocalSettings);
    if (!m_sendNewSchemas) sink.Attribute(word::kTagSendNewSchemas, word::kTagFalse);
    sink.AttributeIfSet(word::kTagRegisterAgent, m_registerAgent);
}

template <typename CharT>
void CAgentInfoContent::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    m_hostInfo.Serialize(stream, level);
    WriteList(stream, level, word::kTagSchemaList, m_schemas);
    WriteList(stream, level, word::kTagContentDateList, m_contentDates);
    WriteList(stream, level, word::kTagModuleList, m_modules);
    WriteList(stream, level, word::kTagUpdateList, m_updates);
    if (GetPolicyCount() != 0) {
        SerializePolicies(stream, level);
    } else {
        WriteList(stream, level, word::kTagAgentParameters, m_params);
    }
    WriteList(stream, level, word::kTagTaskList, m_tasks);
}

void CAgentInfoContent::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CAgentInfoContent::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    SerializeAttributesImpl(stream);
}
void CAgentInfoContent::SerializeContent(std::ostream& stream, int level) const { SerializeContentImpl(stream, level); }
void CAgentInfoContent::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

// ---- CAgentStartupAnnouncement ----

CAgentStartupAnnouncement::CAgentStartupAnnouncement()
    : CContentMessage(nullptr, kTagAgentStartupAnnouncement, true, kCmlNamespaceURI) {}

}  // namespace zel::cml
