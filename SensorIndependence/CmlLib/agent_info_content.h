// The agent-info content: what an agent tells the controller about itself in the startup
// announcement of every heartbeat (and what a get-agent-info response carries back): its
// identity and install state, the host it runs on, the settings schemas, content dates,
// modules, updates and tasks it has, and either free parameters or policy documents.
//
// The small element classes (CHostInfo, CSchemaInfo, CContentDate, CModuleInfo, CUpdateInfo,
// CNameValuePair, CTaskInfoItem, CTaskDescriptorContent) are plain values; CAgentInfoContent
// holds them, and CAgentStartupAnnouncement is the request that carries one content.
// Every writing operation exists for narrow (UTF-8) and wide (UTF-16) streams and gives the
// same characters; both forward to one template.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/content_message.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/message_base.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/policy_list.h"
#include "SensorIndependence/CmlLib/vocabulary.h"

namespace zel::cml {

template <typename CharT>
class XmlSink;

// A vocabulary word that element objects share instead of copying it: the string their getters
// return, and the word itself, which the writer copies as it is.
struct SharedWord {
    explicit SharedWord(const Word& word) : word(word), text(word.wide) {}
    Word word;
    std::u16string text;
};

// A tag-name or namespace-URI field of an element class. It nearly always holds one of a few
// vocabulary words, which it then refers to instead of copying: a heartbeat builds element
// objects by the hundred, and the field stays two pointers wide. Any other text it keeps as a
// copy of its own.
class CTagText {
public:
    // Refers to `shared`, which outlives every object (the library keeps such words for good).
    explicit CTagText(const SharedWord& shared) noexcept : m_shared(&shared) {}
    CTagText(const CTagText& other)
        : m_shared(other.m_shared), m_own(other.m_own ? std::make_unique<std::u16string>(*other.m_own) : nullptr) {}
    CTagText(CTagText&&) noexcept = default;
    CTagText& operator=(const CTagText& other) {
        if (this != &other) *this = CTagText(other);
        return *this;
    }
    CTagText& operator=(CTagText&&) noexcept = default;
    ~CTagText() = default;

    // The text; empty for a field whose own text was moved away.
    const std::u16string& Get() const noexcept {
        if (m_shared) return m_shared->text;
        if (m_own) return *m_own;
        static const std::u16string empty;
        return empty;
    }
    // The word referred to; null when the field keeps a text of its own.
    const SharedWord* Shared() const noexcept { return m_shared; }
    // Keeps a copy of `text`.
    void Set(std::u16string text) {
        m_own = std::make_unique<std::u16string>(std::move(text));
        m_shared = nullptr;
    }
    // Refers to `shared` (which outlives the object) and drops any text of its own.
    void Refer(const SharedWord& shared) noexcept {
        m_own.reset();
        m_shared = &shared;
    }

private:
    // At most one of the two is set (neither after the field's own text was moved away).
    const SharedWord* m_shared;
    std::unique_ptr<std::u16string> m_own;
};

// The host the agent runs on: the "host-info" element.
class CHostInfo {
public:
    // Tag "host-info", the "/cml" namespace, all eight values empty.
    CHostInfo();
    CHostInfo(const CHostInfo&) = default;
    CHostInfo(CHostInfo&&) noexcept = default;
    virtual ~CHostInfo();

    // Copies all ten strings; self-assignment does nothing.
    virtual CHostInfo& operator=(const CHostInfo& other);
    CHostInfo& operator=(CHostInfo&&) noexcept = default;
    // A heap copy; throws CCmlException ("Cloning host-info object", 0xC7210001) when memory runs out.
    virtual std::unique_ptr<CHostInfo> Clone() const;

    virtual const std::u16string& GetTagName() const;
    virtual const std::u16string& GetNamespaceURI() const;
    virtual const std::u16string& GetOs() const;
    virtual const std::u16string& GetVersion() const;
    virtual const std::u16string& GetIpAddress() const;
    virtual const std::u16string& GetHostName() const;
    virtual const std::u16string& GetNbName() const;
    virtual const std::u16string& GetNbDomain() const;
    virtual const std::u16string& GetAdObjectId() const;
    virtual const std::u16string& GetAdGroupId() const;
    // Each setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual void SetOs(const char16_t* os);
    virtual void SetVersion(const char16_t* version);
    virtual void SetIpAddress(const char16_t* ipAddress);
    virtual void SetHostName(const char16_t* hostName);
    virtual void SetNbName(const char16_t* nbName);
    virtual void SetNbDomain(const char16_t* nbDomain);
    virtual void SetAdObjectId(const char16_t* adObjectId);
    virtual void SetAdGroupId(const char16_t* adGroupId);

    // Empties the eight values; tag and namespace stay.
    virtual void Clear();
    // True when all eight values are empty (tag and namespace do not count).
    virtual bool IsEmpty() const;

    // Reads tag (node name), namespace URI and the eight attributes (absent ones empty). A DOM
    // failure throws CCmlException with the DOM message and code.
    virtual void Deserialize(const CCmlDOM_Element& element);
    // Writes the element on one line at `level`; writes nothing at all when IsEmpty().
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;
    // Writes xmlns, os and version (always), then the six others that are not empty.
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    // The attributes into the sink of the start tag's line.
    template <typename CharT>
    void WriteAttributes(XmlSink<CharT>& sink) const;

    std::u16string m_tagName;
    std::u16string m_namespaceURI;
    std::u16string m_os;
    std::u16string m_version;
    std::u16string m_ipAddress;
    std::u16string m_hostName;
    std::u16string m_nbName;
    std::u16string m_nbDomain;
    std::u16string m_adObjectId;
    std::u16string m_adGroupId;
};

// One settings schema the agent knows: the "schema-info" element (always that name, in the
// namespace of its parent). The schema messages derive their items from it.
class CSchemaInfo {
public:
    // Empty strings, every flag false.
    CSchemaInfo();
    CSchemaInfo(const CSchemaInfo&) = default;
    CSchemaInfo& operator=(const CSchemaInfo&) = default;
    CSchemaInfo(CSchemaInfo&&) noexcept = default;
    CSchemaInfo& operator=(CSchemaInfo&&) noexcept = default;
    virtual ~CSchemaInfo();

    // The namespace URI of the schema described.
    virtual const std::u16string& GetNamespace() const;
    virtual const std::u16string& GetVersion() const;
    virtual const std::u16string& GetName() const;
    virtual bool GetOverwrite() const;
    virtual bool GetRoot() const;
    virtual bool GetCpeEditable() const;
    virtual bool GetGetFromAgent() const;
    virtual bool GetGetLatestCompatible() const;
    // Each string setter replaces its field; a null pointer gives the empty string.
    virtual void SetNamespace(const char16_t* namespaceURI);
    virtual void SetVersion(const char16_t* version);
    virtual void SetName(const char16_t* name);
    virtual void SetOverwrite(bool overwrite);
    virtual void SetRoot(bool root);
    virtual void SetCpeEditable(bool cpeEditable);
    virtual void SetGetFromAgent(bool getFromAgent);
    virtual void SetGetLatestCompatible(bool getLatestCompatible);

    // Reads the attributes only (flags true only for exactly "true"). A null element throws
    // CCmlException ("Deserializing schema-info", "Null element received", 0xC738000F).
    virtual void Deserialize(const CCmlDOM_Element& element);
    // Writes namespace (always), version and name when not empty, then each true flag as 'true'.
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;

    // Writes "<schema-info" + the attributes + "/>" on one line at `level`.
    void Serialize(std::ostream& stream, int level) const;
    void Serialize(std::basic_ostream<char16_t>& stream, int level) const;

private:
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::u16string m_namespace;
    std::u16string m_version;
    std::u16string m_name;
    bool m_overwrite = false;
    bool m_root = false;
    bool m_cpeEditable = false;
    bool m_getFromAgent = false;
    bool m_getLatestCompatible = false;
};

// The date of one piece of content the agent holds: the "content-date" element.
class CContentDate {
public:
    // Tag "content-date", the "/cml" namespace, empty identity and date.
    CContentDate();
    CContentDate(const CContentDate&) = default;
    CContentDate(CContentDate&&) noexcept = default;
    virtual ~CContentDate();

    // Copies the four strings; self-assignment does nothing.
    virtual CContentDate& operator=(const CContentDate& other);
    CContentDate& operator=(CContentDate&&) noexcept = default;
    // A heap copy ("Cloning content-date object", 0xC7210001 when memory runs out).
    virtual std::unique_ptr<CContentDate> Clone() const;

    virtual const std::u16string& GetTagName() const;
    virtual const std::u16string& GetNamespaceURI() const;
    // What content the date belongs to.
    virtual const std::u16string& GetIdentity() const;
    // The date as text; never interpreted.
    virtual const std::u16string& GetDate() const;
    // Each setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual void SetIdentity(const char16_t* identity);
    virtual void SetDate(const char16_t* date);

    // Reads tag, namespace URI, "identity" and "date". A DOM failure throws CCmlException.
    virtual void Deserialize(const CCmlDOM_Element& element);
    // Writes the element on one line at `level`.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;
    // Writes xmlns, identity and date, all three always.
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    // The attributes into the sink of the start tag's line.
    template <typename CharT>
    void WriteAttributes(XmlSink<CharT>& sink) const;

    CTagText m_tagName;
    CTagText m_namespaceURI;
    std::u16string m_identity;
    std::u16string m_date;
};

// A name-value parameter: the "param" element (normally in the "/cml/common" namespace).
class CNameValuePair {
public:
    // Tag "param", the "/cml/common" namespace, empty name and value, no ordinal (-1).
    CNameValuePair();
    // The same defaults with `name` and `value` (null pointers give empty strings).
    CNameValuePair(const char16_t* name, const char16_t* value);
    CNameValuePair(const CNameValuePair&) = default;
    CNameValuePair(CNameValuePair&&) noexcept = default;
    virtual ~CNameValuePair();

    // Copies every field; self-assignment does nothing.
    virtual CNameValuePair& operator=(const CNameValuePair& other);
    CNameValuePair& operator=(CNameValuePair&&) noexcept = default;
    // A heap copy ("Cloning param object", 0xC7210001 when memory runs out).
    virtual std::unique_ptr<CNameValuePair> Clone() const;

    virtual const std::u16string& GetTagName() const;
    virtual const std::u16string& GetNamespaceURI() const;
    virtual const std::u16string& GetName() const;
    virtual const std::u16string& GetValue() const;
    // The ordinal; -1 when the pair has none.
    virtual int32_t GetOrdinal() const;
    // Each string setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual void SetName(const char16_t* name);
    virtual void SetValue(const char16_t* value);
    // -1 removes the ordinal.
    virtual void SetOrdinal(int32_t ordinal);

    // Reads tag, namespace URI, "name", "value" and "ordinal" (automatic base; absent or
    // unreadable gives -1). A DOM failure throws CCmlException ("Parsing param element").
    virtual void Deserialize(const CCmlDOM_Element& element);
    // Writes the element on one line at `level`.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;
    // Writes xmlns, name and value (escaped) always, then the ordinal in decimal unless it is -1.
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    // The attributes into the sink of the start tag's line.
    template <typename CharT>
    void WriteAttributes(XmlSink<CharT>& sink) const;

    CTagText m_tagName;
    CTagText m_namespaceURI;
    std::u16string m_name;
    std::u16string m_value;
    int32_t m_ordinal;
};

using NameValuePairVector = std::vector<CNameValuePair>;

// One module of the agent with its status and either parameters or policy documents: the
// "module" element. When it holds policies its parameters are not written. Policy index
// failures name "Getting policy source from module info" / "Setting policy source for module
// info".
class CModuleInfo : public CPolicyList {
public:
    // Tag "module", the "/cml" namespace, empty name and version, status not set (0x47380022).
    CModuleInfo();
    // Copies every field and clones every policy.
    CModuleInfo(const CModuleInfo& other);
    CModuleInfo(CModuleInfo&& other) noexcept;
    virtual ~CModuleInfo();

    // Copies every field and clones every policy; self-assignment does nothing.
    virtual CModuleInfo& operator=(const CModuleInfo& other);
    CModuleInfo& operator=(CModuleInfo&& other) noexcept;
    // A heap copy ("Cloning module object", 0xC7210001 when memory runs out).
    virtual std::unique_ptr<CModuleInfo> Clone() const;

    virtual const std::u16string& GetTagName() const;
    virtual const std::u16string& GetNamespaceURI() const;
    virtual const std::u16string& GetName() const;
    virtual const std::u16string& GetVersion() const;
    // The module's status; 0x47380022 when none is set.
    virtual uint32_t GetStatus() const;
    // Each string setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual void SetName(const char16_t* name);
    virtual void SetVersion(const char16_t* version);
    // 0x47380022 clears the status.
    virtual void SetStatus(uint32_t status);

    virtual const NameValuePairVector& GetParams() const;
    virtual NameValuePairVector& GetParams();
    virtual std::size_t GetParamCount() const;
    // Appends a "param" in the "/cml/common" namespace without ordinal; returns the stored entry.
    virtual CNameValuePair& AddParam(const char16_t* name, const char16_t* value);
    // Appends a copy; returns the stored entry.
    virtual CNameValuePair& AddParam(const CNameValuePair& param);

    // Adds the namespaces of its policies.
    virtual void CollectNamespaces(NamespaceSet& namespaces) const;
    // True when it holds a policy or a parameter.
    virtual bool HasContent() const;

    // Empties the parameters and deletes the policies, then reads tag, namespace, "name",
    // "version", "status" (automatic base; absent or unreadable gives 0x47380022) and the
    // children: a "/cml/common" "param" is a parameter, other "/cml/common" elements are
    // skipped, an element in any other namespace drops the parameters read so far and becomes a
    // policy node. A DOM failure throws CCmlException with the DOM message and code.
    virtual void Deserialize(const CCmlDOM_Element& element);
    // Writes the element at `level`: on one line without content, else its policies (or, without
    // policies, its parameters) at level + 1 and the closing tag.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;
    // Writes xmlns, name (escaped) and version always, then status and status-text when set.
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;
    // Writes the policies, or the parameters when there is no policy, at `level`.
    virtual void SerializeContent(std::ostream& stream, int level) const;
    virtual void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    // The attributes into the sink of the start tag's line.
    template <typename CharT>
    void WriteAttributes(XmlSink<CharT>& sink) const;
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    CTagText m_tagName;
    CTagText m_namespaceURI;
    std::u16string m_name;
    std::u16string m_version;
    uint32_t m_status;
    NameValuePairVector m_params;
};

// A software update the agent has: the "update" element.
class CUpdateInfo {
public:
    // Tag "update", the "/cml" namespace, empty module, type and version.
    CUpdateInfo();
    CUpdateInfo(const CUpdateInfo&) = default;
    CUpdateInfo(CUpdateInfo&&) noexcept = default;
    virtual ~CUpdateInfo();

    // Copies the five strings; self-assignment does nothing.
    virtual CUpdateInfo& operator=(const CUpdateInfo& other);
    CUpdateInfo& operator=(CUpdateInfo&&) noexcept = default;
    // A heap copy ("Cloning update object", 0xC7210001 when memory runs out).
    virtual std::unique_ptr<CUpdateInfo> Clone() const;

    virtual const std::u16string& GetTagName() const;
    virtual const std::u16string& GetNamespaceURI() const;
    virtual const std::u16string& GetModule() const;
    virtual const std::u16string& GetType() const;
    virtual const std::u16string& GetVersion() const;
    // Each setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual void SetModule(const char16_t* module);
    virtual void SetType(const char16_t* type);
    virtual void SetVersion(const char16_t* version);

    // Reads tag, namespace URI, "module", "type" and "version". A DOM failure throws CCmlException.
    virtual void Deserialize(const CCmlDOM_Element& element);
    // Writes the element on one line at `level`.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;
    // Writes xmlns (always), then module, type and version when not empty, as they are.
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    // The attributes into the sink of the start tag's line.
    template <typename CharT>
    void WriteAttributes(XmlSink<CharT>& sink) const;

    CTagText m_tagName;
    CTagText m_namespaceURI;
    std::u16string m_module;
    std::u16string m_type;
    std::u16string m_version;
};

// What a task takes as input: the "descriptor-content" element (no xmlns of its own).
class CTaskDescriptorContent {
public:
    // Tag "descriptor-content", occurrence bounds "1" and "1", empty namespace and identity,
    // both flags false.
    CTaskDescriptorContent();
    CTaskDescriptorContent(const CTaskDescriptorContent&) = default;
    CTaskDescriptorContent(CTaskDescriptorContent&&) noexcept = default;
    virtual ~CTaskDescriptorContent();

    // Copies every field; self-assignment does nothing.
    virtual CTaskDescriptorContent& operator=(const CTaskDescriptorContent& other);
    CTaskDescriptorContent& operator=(CTaskDescriptorContent&&) noexcept = default;
    // A heap copy ("Cloning descriptor-content object", 0xC7210001 when memory runs out).
    virtual std::unique_ptr<CTaskDescriptorContent> Clone() const;

    virtual const std::u16string& GetTagName() const;
    // The namespace URI of the content described (an attribute, not the element's namespace).
    virtual const std::u16string& GetNamespace() const;
    // The occurrence bounds, as text.
    virtual const std::u16string& GetMinOccurs() const;
    virtual const std::u16string& GetMaxOccurs() const;
    virtual const std::u16string& GetIdentity() const;
    virtual bool GetPolicyRef() const;
    virtual bool GetGlobal() const;
    // Each string setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetNamespace(const char16_t* namespaceURI);
    virtual void SetMinOccurs(const char16_t* minOccurs);
    virtual void SetMaxOccurs(const char16_t* maxOccurs);
    virtual void SetIdentity(const char16_t* identity);
    virtual void SetPolicyRef(bool policyRef);
    virtual void SetGlobal(bool global);

    // Reads tag and the six attributes (flags true only for exactly "true"; absent bounds read
    // as empty). A DOM failure throws CCmlException with the DOM message and code.
    virtual void Deserialize(const CCmlDOM_Element& element);
    // Writes the element on one line at `level`.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;
    // Writes namespace (always); each bound only when neither empty nor "1"; identity when not
    // empty; each true flag as 'true'.
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    // The attributes into the sink of the start tag's line.
    template <typename CharT>
    void WriteAttributes(XmlSink<CharT>& sink) const;

    std::u16string m_tagName;
    std::u16string m_namespace;
    std::u16string m_minOccurs;
    std::u16string m_maxOccurs;
    std::u16string m_identity;
    bool m_policyRef = false;
    bool m_global = false;
};

using TaskDescriptorVector = std::vector<CTaskDescriptorContent>;

// A task the agent can run: the "task-info" element with its descriptors.
class CTaskInfoItem {
public:
    // An empty tag (a parsed item keeps its node name), empty action and message, no descriptors.
    CTaskInfoItem();
    CTaskInfoItem(const CTaskInfoItem&) = default;
    CTaskInfoItem(CTaskInfoItem&&) noexcept = default;
    virtual ~CTaskInfoItem();

    // Copies every field and descriptor; self-assignment does nothing.
    virtual CTaskInfoItem& operator=(const CTaskInfoItem& other);
    CTaskInfoItem& operator=(CTaskInfoItem&&) noexcept = default;
    // A heap copy ("Cloning task-info object", 0xC7210001 when memory runs out).
    virtual std::unique_ptr<CTaskInfoItem> Clone() const;

    virtual const std::u16string& GetTagName() const;
    virtual const std::u16string& GetAction() const;
    virtual const std::u16string& GetMessage() const;
    // Each setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetAction(const char16_t* action);
    virtual void SetMessage(const char16_t* message);

    virtual const TaskDescriptorVector& GetDescriptors() const;
    virtual TaskDescriptorVector& GetDescriptors();
    // Appends a copy; returns the stored entry.
    virtual CTaskDescriptorContent& AddDescriptor(const CTaskDescriptorContent& descriptor);

    // Empties the descriptors, reads tag, "action" and "message", then one descriptor for each
    // "descriptor-content" child in the "/cml" namespace. A DOM failure throws CCmlException.
    virtual void Deserialize(const CCmlDOM_Element& element);
    // Writes the element at `level`: one line without descriptors, else the descriptors at
    // level + 1 and the closing tag.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;
    // Writes action and message, escaped, always.
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    // The attributes into the sink of the start tag's line.
    template <typename CharT>
    void WriteAttributes(XmlSink<CharT>& sink) const;

    std::u16string m_tagName;
    std::u16string m_action;
    std::u16string m_message;
    TaskDescriptorVector m_descriptors;
};

using SchemaInfoVector = std::vector<CSchemaInfo>;
using ContentDateVector = std::vector<CContentDate>;
// A deque: adding a module never moves the ones added before, so a module handed out by
// the heartbeat exports stays valid while more are added.
using ModuleInfoVector = std::deque<CModuleInfo>;
using UpdateInfoVector = std::vector<CUpdateInfo>;
using TaskInfoVector = std::vector<CTaskInfoItem>;

// Everything an agent reports about itself. Its attributes stand in the start tag of the
// element that carries it (after that element's own), its sections are that element's
// children. Parameters and policies are alternatives: with any policy, no parameter is written.
// Policy index failures name "Getting policy source from agent info content" / "Setting policy
// source for agent info content".
class CAgentInfoContent : public CPolicyList {
public:
    // Empty strings, both statuses not set (0x47380022), use-local-settings false,
    // send-new-schemas true, an empty host info and empty lists.
    CAgentInfoContent();
    // Copies every field and list; clones every policy.
    CAgentInfoContent(const CAgentInfoContent& other);
    CAgentInfoContent(CAgentInfoContent&& other) noexcept;
    virtual ~CAgentInfoContent();

    // Copies every field and list; clones every policy; self-assignment does nothing.
    virtual CAgentInfoContent& operator=(const CAgentInfoContent& other);
    CAgentInfoContent& operator=(CAgentInfoContent&& other) noexcept;
    // Adds the namespaces of every module's policies (module order), then of its own policies.
    // The content adds no namespace of its own.
    virtual void CollectNamespaces(NamespaceSet& namespaces) const;

    virtual const std::u16string& GetName() const;
    virtual const std::u16string& GetAgentId() const;
    // The agent's namespace URI.
    virtual const std::u16string& GetNamespace() const;
    virtual const std::u16string& GetVersion() const;
    virtual const std::u16string& GetModel() const;
    virtual const std::u16string& GetQpkVersion() const;
    virtual const std::u16string& GetAgentInstallPath() const;
    virtual const std::u16string& GetDaemonInstallPath() const;
    virtual const std::u16string& GetGroupnameHint() const;
    virtual bool GetUseLocalSettings() const;
    virtual bool GetSendNewSchemas() const;
    virtual const std::u16string& GetRegisterAgent() const;
    // 0x47380022 when no status is set.
    virtual uint32_t GetAgentStatus() const;
    virtual const std::u16string& GetLastQpkPath() const;
    // 0x47380022 when no status is set.
    virtual uint32_t GetQpkStatus() const;
    virtual const std::u16string& GetQpkStatusDescription() const;

    virtual const ModuleInfoVector& GetModules() const;
    virtual ModuleInfoVector& GetModules();
    virtual std::size_t GetModuleCount() const;
    virtual std::size_t GetContentDateCount() const;
    // Copies identity and date of entry `index` out; an index at or beyond the count throws
    // CCmlException ("Getting content date", "Invalid vector index", 0xC738000B).
    virtual void GetContentDate(std::size_t index, std::u16string& identity, std::u16string& date) const;
    virtual const CHostInfo& GetHostInfo() const;
    virtual CHostInfo& GetHostInfo();
    virtual const SchemaInfoVector& GetSchemas() const;
    virtual SchemaInfoVector& GetSchemas();
    virtual std::size_t GetSchemaCount() const;
    virtual const ContentDateVector& GetContentDates() const;
    virtual ContentDateVector& GetContentDates();
    virtual const UpdateInfoVector& GetUpdates() const;
    virtual UpdateInfoVector& GetUpdates();
    virtual std::size_t GetUpdateCount() const;
    virtual const TaskInfoVector& GetTasks() const;
    virtual TaskInfoVector& GetTasks();
    virtual std::size_t GetTaskCount() const;
    virtual const NameValuePairVector& GetParams() const;
    virtual NameValuePairVector& GetParams();
    virtual std::size_t GetParamCount() const;

    // Each string setter replaces its field; a null pointer gives the empty string.
    virtual void SetName(const char16_t* name);
    virtual void SetAgentId(const char16_t* agentId);
    virtual void SetNamespace(const char16_t* namespaceURI);
    virtual void SetVersion(const char16_t* version);
    virtual void SetModel(const char16_t* model);
    virtual void SetQpkVersion(const char16_t* qpkVersion);
    virtual void SetAgentInstallPath(const char16_t* path);
    virtual void SetDaemonInstallPath(const char16_t* path);
    virtual void SetGroupnameHint(const char16_t* hint);
    virtual void SetUseLocalSettings(bool useLocalSettings);
    virtual void SetSendNewSchemas(bool sendNewSchemas);
    virtual void SetRegisterAgent(const char16_t* registerAgent);
    // 0x47380022 clears the status.
    virtual void SetAgentStatus(uint32_t status);
    virtual void SetLastQpkPath(const char16_t* path);
    // 0x47380022 clears the status.
    virtual void SetQpkStatus(uint32_t status);
    virtual void SetQpkStatusDescription(const char16_t* description);

    // Copies all ten strings of `hostInfo`.
    virtual void SetHostInfo(const CHostInfo& hostInfo);
    // Each adder appends a copy and returns the stored entry.
    virtual CSchemaInfo& AddSchemaInfo(const CSchemaInfo& schema);
    // The same, taking the schema's strings over instead of copying them.
    CSchemaInfo& AddSchemaInfo(CSchemaInfo&& schema);
    virtual CContentDate& AddContentDate(const CContentDate& contentDate);
    // Appends a "content-date" in the "/cml" namespace.
    virtual CContentDate& AddContentDate(const char16_t* identity, const char16_t* date);
    // The stored copy is put in the "/cml" namespace, whatever `module` held.
    virtual CModuleInfo& AddModuleInfo(const CModuleInfo& module);
    // The same, taking the module's contents over instead of copying them.
    CModuleInfo& AddModuleInfo(CModuleInfo&& module);
    virtual CUpdateInfo& AddUpdateInfo(const CUpdateInfo& update);
    virtual CTaskInfoItem& AddTaskInfo(const CTaskInfoItem& task);
    // Appends a "param" in the "/cml/common" namespace without ordinal.
    virtual CNameValuePair& AddParam(const char16_t* name, const char16_t* value);
    virtual CNameValuePair& AddParam(const CNameValuePair& param);

    // True when SerializeContent would write something: a non-empty host info or any
    // non-empty list.
    virtual bool HasContent() const;
    // Empties every list (deleting the policies) and reads the element's attributes and child
    // sections; see the .cpp for the recognised children. Statuses read with automatic base
    // ("0x" hexadecimal, leading "0" octal), absent or unreadable ones not set. A DOM failure
    // throws CCmlException ("Parsing agent-info response element", the DOM message and code).
    virtual void Deserialize(const CCmlDOM_Element& element);
    // Writes the agent-info attributes: name, agent-id, namespace and version always, the
    // others when set (see the .cpp for escaping).
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;
    // Writes the child sections at `level`: host info, schema, content-date, module and update
    // lists, the policies or else the parameters, and the task list; each list only when not
    // empty.
    virtual void SerializeContent(std::ostream& stream, int level) const;
    virtual void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const;

private:
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::u16string m_name;
    std::u16string m_agentId;
    std::u16string m_namespace;
    std::u16string m_version;
    std::u16string m_model;
    std::u16string m_qpkVersion;
    std::u16string m_agentInstallPath;
    std::u16string m_daemonInstallPath;
    uint32_t m_agentStatus;
    std::u16string m_lastQpkPath;
    uint32_t m_qpkStatus;
    std::u16string m_qpkStatusDescription;
    std::u16string m_groupnameHint;
    bool m_useLocalSettings = false;
    bool m_sendNewSchemas = true;
    std::u16string m_registerAgent;
    CHostInfo m_hostInfo;
    SchemaInfoVector m_schemas;
    ContentDateVector m_contentDates;
    ModuleInfoVector m_modules;
    UpdateInfoVector m_updates;
    TaskInfoVector m_tasks;
    NameValuePairVector m_params;
};

// The "agent-startup-announcement" request of every heartbeat: the request attributes and the
// agent-info attributes share one start tag; the content's sections are its children.
class CAgentStartupAnnouncement
    : public CContentMessage<CAgentStartupAnnouncement, CCmlRequest, CAgentInfoContent> {
public:
    static constexpr const char16_t* kCloneOperation = u"Cloning agent-startup-announcement object";

    // An empty request id, need-reply true, the "/cml" namespace and an empty content.
    CAgentStartupAnnouncement();
};

}  // namespace zel::cml
