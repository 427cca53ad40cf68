// Tasks and schedules: the controller configures an agent's scheduled tasks (each with a name,
// a description, an optional schedule and the policies it applies), pauses, resumes and stops
// them, deletes their data and asks for their status; the agent answers with one
// "task-status" element per task.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/date_time.h"
#include "SensorIndependence/CmlLib/dom_document_ref.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/message_base.h"
#include "SensorIndependence/CmlLib/policy_list.h"

namespace zel::cml {

// What a CTaskSource is, as GetSourceType answers.
enum TaskSourceType : int {
    kTaskSourceDescriptor = 0,  // CTaskDescriptor
    kTaskSourceStatus = 1,      // CTaskStatus
    kTaskSourceNode = 2,        // CTaskNode
};

// A task element of a task message: a descriptor, a status or a task held as a DOM element.
class CTaskSource {
public:
    CTaskSource() = default;
    CTaskSource(const CTaskSource&) = default;
    CTaskSource& operator=(const CTaskSource&) = default;
    virtual ~CTaskSource();

    // One of TaskSourceType.
    virtual int GetSourceType() const = 0;
    // A heap copy of the object's own class; throws CCmlException ("Cloning ...", 0xC7210001)
    // when memory runs out.
    std::unique_ptr<CTaskSource> Clone() const { return std::unique_ptr<CTaskSource>(DoClone()); }
    virtual std::u16string GetNamespaceURI() const = 0;
    virtual std::u16string GetSchemaVersion() const = 0;
    virtual std::u16string GetTagName() const = 0;
    // Reads the task from `element`.
    virtual void Deserialize(const CCmlDOM_Element& element) = 0;
    // Writes the element at `level`.
    virtual void Serialize(std::ostream& stream, int level) const = 0;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const = 0;
    // Writes the attributes of the start tag.
    virtual void SerializeAttributes(std::ostream& stream) const = 0;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const = 0;
    // Adds (namespace URI, schema version) with "Constructing task namespace object"; a
    // conflicting version throws CCmlException 0xC738000E.
    virtual void CollectNamespaces(NamespaceSet& namespaces) const;

protected:
    // The copy behind Clone(); each class returns a copy of its own type.
    virtual CTaskSource* DoClone() const = 0;
};

// Owned task elements in insertion order (also the order they are written in).
using TaskSourceVector = std::vector<std::unique_ptr<CTaskSource>>;

// When a task runs: the "schedule" element with a start time, a duration and a frequency.
class CSchedule {
public:
    // Tag "schedule", the "/cml" namespace, all three values null.
    CSchedule();
    CSchedule(const CSchedule&) = default;
    CSchedule& operator=(const CSchedule&) = default;
    virtual ~CSchedule();

    // A heap copy ("Cloning schedule attributes object", 0xC7210001 when memory runs out).
    virtual std::unique_ptr<CSchedule> Clone() const;

    virtual const std::u16string& GetTagName() const;
    virtual const std::u16string& GetNamespaceURI() const;
    // Each setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual const XmlUtils::CDateTime& GetTime() const;
    virtual const XmlUtils::CDuration& GetDuration() const;
    virtual const XmlUtils::CDuration& GetFrequency() const;
    virtual void SetTime(const XmlUtils::CDateTime& time);
    virtual void SetDuration(const XmlUtils::CDuration& duration);
    virtual void SetFrequency(const XmlUtils::CDuration& frequency);
    // Each reads its value from an attribute node (see CDateTime / CDuration::Parse).
    virtual void ParseTime(const CCmlDOM_Node& attribute);
    virtual void ParseDuration(const CCmlDOM_Node& attribute);
    virtual void ParseFrequency(const CCmlDOM_Node& attribute);

    // True when at least one of the three values is not null.
    virtual bool HasContent() const;
    // All three values null.
    virtual void Clear();

    // Clears, takes tag and namespace from the element and parses each of "time", "duration"
    // and "frequency" that is present. A null element throws CCmlException ("Parsing
    // schedule", "Missing schedule specification", 0xC7380005); a DOM failure throws with
    // "Parsing schedule element".
    virtual void Deserialize(const CCmlDOM_Element& element);
    // Only when HasContent(): one empty element with xmlns, time, duration and frequency, all
    // four always (a null value in its zero form), the numbers with the stream's precision.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::u16string m_tagName;
    std::u16string m_namespaceURI;
    XmlUtils::CDateTime m_time;
    XmlUtils::CDuration m_duration;
    XmlUtils::CDuration m_frequency;
};

// A task to configure: the "task" element with its schedule and the policies it applies.
// Policy index failures name "Getting policy source from task descriptor" / "Setting policy
// source for task descriptor".
class CTaskDescriptor : public CTaskSource, public CPolicyList {
public:
    // Tag "task", the "/cml" namespace, schema version "2.4.2", empty name and description, an
    // empty schedule and no policy.
    CTaskDescriptor();
    CTaskDescriptor(const CTaskDescriptor&) = default;
    CTaskDescriptor& operator=(const CTaskDescriptor&) = default;
    ~CTaskDescriptor() override;

    // kTaskSourceDescriptor.
    int GetSourceType() const override;
    std::u16string GetNamespaceURI() const override;
    std::u16string GetSchemaVersion() const override;
    std::u16string GetTagName() const override;
    virtual const std::u16string& GetName() const;
    virtual const std::u16string& GetDescription() const;
    // Each setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual void SetSchemaVersion(const char16_t* version);
    virtual void SetName(const char16_t* name);
    virtual void SetDescription(const char16_t* description);
    virtual const CSchedule& GetSchedule() const;
    virtual CSchedule& GetSchedule();
    virtual void SetSchedule(const CSchedule& schedule);

    // The task's namespace, then its policies'.
    void CollectNamespaces(NamespaceSet& namespaces) const override;
    // Clears the schedule and the policies, takes the namespace from the element and reads
    // "name" and "description"; a "/cml" "schedule" child is the schedule, a "/cml"
    // "policy-ref" child a policy reference, other "/cml" children are skipped, and a child of
    // any other namespace is a policy node. A null element throws CCmlException ("Parsing task
    // descriptor", "Missing task specification", 0xC7380005); a DOM failure throws with
    // "Parsing task descriptor".
    void Deserialize(const CCmlDOM_Element& element) override;
    // Start tag, content one level deeper, end tag (never the empty form). A task without a
    // policy throws CCmlException ("Serializing task descriptor", "No policy specification",
    // 0xC7380009) before anything is written.
    void Serialize(std::ostream& stream, int level) const override;
    void Serialize(std::basic_ostream<char16_t>& stream, int level) const override;
    // xmlns always, then name and description (escaped) when not empty.
    void SerializeAttributes(std::ostream& stream) const override;
    void SerializeAttributes(std::basic_ostream<char16_t>& stream) const override;
    // The schedule (when it has content), then every policy, all at `level`; returns the
    // number of child elements written.
    virtual std::size_t SerializeContent(std::ostream& stream, int level) const;
    virtual std::size_t SerializeContent(std::basic_ostream<char16_t>& stream, int level) const;

protected:
    CTaskDescriptor* DoClone() const override;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;
    template <typename CharT>
    std::size_t SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::u16string m_tagName;
    std::u16string m_namespaceURI;
    std::u16string m_schemaVersion;
    std::u16string m_name;
    std::u16string m_description;
    CSchedule m_schedule;
};

// The state and result of one task: the "task-status" element. Both codes are "not set"
// (0x47380022) by default and are then not written.
class CTaskStatus : public CTaskSource {
public:
    // Tag "task-status", the "/cml" namespace, schema version "2.4.2", empty texts.
    CTaskStatus();
    CTaskStatus(const CTaskStatus&) = default;
    CTaskStatus& operator=(const CTaskStatus&) = default;
    ~CTaskStatus() override;

    // kTaskSourceStatus.
    int GetSourceType() const override;
    std::u16string GetNamespaceURI() const override;
    std::u16string GetSchemaVersion() const override;
    std::u16string GetTagName() const override;
    virtual const std::u16string& GetName() const;
    virtual const std::u16string& GetTaskId() const;
    // The state of the task (0x47210049 running, 0x4721004B paused, ...).
    virtual uint32_t GetStatus() const;
    // The result of the operation.
    virtual uint32_t GetCode() const;
    virtual const std::u16string& GetText() const;
    // Each string setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual void SetSchemaVersion(const char16_t* version);
    virtual void SetName(const char16_t* name);
    virtual void SetTaskId(const char16_t* taskId);
    virtual void SetStatus(uint32_t status);
    virtual void SetCode(uint32_t code);
    virtual void SetText(const char16_t* text);

    // Takes tag and namespace from the element, reads "name", "task-id", "status" (one of the
    // words "running", "paused", "pending", "pause pending", "stop pending", "continue
    // pending", "completed", "stopped", "not found", else a number with automatic base,
    // unreadable 0, absent not set), "code" (automatic base; absent or unreadable not set)
    // and "text". A null element throws CCmlException ("Parsing task status", "Missing task
    // status element", 0xC7380005).
    void Deserialize(const CCmlDOM_Element& element) override;
    // One empty element: xmlns, then the attributes.
    void Serialize(std::ostream& stream, int level) const override;
    void Serialize(std::basic_ostream<char16_t>& stream, int level) const override;
    // name (escaped) and task-id when not empty, status ("0x" + hex, 0 as "0") and code ("0x"
    // + hex) when set, text (escaped) when not empty.
    void SerializeAttributes(std::ostream& stream) const override;
    void SerializeAttributes(std::basic_ostream<char16_t>& stream) const override;

protected:
    CTaskStatus* DoClone() const override;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;

    std::u16string m_tagName;
    std::u16string m_namespaceURI;
    std::u16string m_schemaVersion;
    std::u16string m_name;
    std::u16string m_taskId;
    uint32_t m_status;
    uint32_t m_code;
    std::u16string m_text;
};

// A task held as the DOM element it was received as. Namespace, schema version and tag name
// are read from the element on first use. The node keeps its parsed document alive.
class CTaskNode : public CTaskSource, public CCmlDOM_Node {
public:
    // A node over `element` (null allowed: the getters then throw "Null node").
    explicit CTaskNode(const CCmlDOM_Element& element = CCmlDOM_Element());
    CTaskNode(const CTaskNode&) = default;
    CTaskNode& operator=(const CTaskNode&) = default;
    ~CTaskNode() override;

    // kTaskSourceNode.
    int GetSourceType() const override;
    // Each getter throws CCmlException ("Getting task node namespace" / "... schema version" /
    // "... tagname", "Null node", 0xC7380010) on a null node.
    std::u16string GetNamespaceURI() const override;
    // The "schema-version" attribute.
    std::u16string GetSchemaVersion() const override;
    // The node name.
    std::u16string GetTagName() const override;
    // Points the node at `element` (and its document) and forgets what it had read.
    void Deserialize(const CCmlDOM_Element& element) override;
    // The element and its subtree with the formatted DOM writer (nothing for a null node).
    void Serialize(std::ostream& stream, int level) const override;
    void Serialize(std::basic_ostream<char16_t>& stream, int level) const override;
    // The element's attributes given in the document, escaped.
    void SerializeAttributes(std::ostream& stream) const override;
    void SerializeAttributes(std::basic_ostream<char16_t>& stream) const override;
    // The node's own namespace, then for each direct child element in another namespace of the
    // CML base URI, that namespace with the child's "schema-version" ("Constructing task node
    // namespace object").
    void CollectNamespaces(NamespaceSet& namespaces) const override;

protected:
    CTaskNode* DoClone() const override;

private:
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;

    CDomDocumentRef m_document;
    // Filled on first use; reading is single-threaded like every CML object.
    mutable std::u16string m_namespaceURI;
    mutable std::u16string m_schemaVersion;
    mutable std::u16string m_tagName;
};

// "pause-task-request", "resume-task-request", "stop-task-request",
// "delete-task-data-request" and "get-task-status-request": the task ids and status codes the
// request names.
class CTaskRequest : public CCmlRequest {
public:
    // A request with the element name `tagName`, the "/cml" namespace and need-reply true.
    explicit CTaskRequest(const char16_t* tagName);
    CTaskRequest(const CTaskRequest&) = default;
    ~CTaskRequest() override;

    // Request fields, then ids and statuses; self-assignment does nothing.
    virtual CTaskRequest& operator=(const CTaskRequest& other);
    // A heap copy ("Cloning <tag name> object", 0xC7210001 when memory runs out).
    std::unique_ptr<CTaskRequest> Clone() const { return std::unique_ptr<CTaskRequest>(DoClone()); }

    // Appends a task id (null: empty).
    virtual void AddTaskId(const char16_t* taskId);
    virtual const std::vector<std::u16string>& GetTaskIds() const;
    virtual std::vector<std::u16string>& GetTaskIds();
    virtual std::size_t GetTaskIdCount() const;
    virtual void AddStatus(uint32_t status);
    virtual const std::vector<uint32_t>& GetStatuses() const;
    virtual std::vector<uint32_t>& GetStatuses();
    virtual std::size_t GetStatusCount() const;

    // True when it names a task id or a status.
    bool HasContent() const override;
    // The request fields, then the "value" of every "/cml" "task-id" child and of every "/cml"
    // "status" child (automatic base, unreadable 0). A DOM failure throws CCmlException
    // ("Parsing get-task-status-request element", whatever the tag).
    void Deserialize(const CCmlDOM_Element& element) override;
    // One "task-id" element per id, then one "status" element per status ("0x" + hex).
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

protected:
    CTaskRequest* DoClone() const override;

private:
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::vector<std::u16string> m_taskIds;
    std::vector<uint32_t> m_statuses;
};

// The operation texts of a task list's index failures.
struct TaskListTexts {
    const char16_t* get;  // GetTask
    const char16_t* set;  // SetTask
};

// The owned, ordered task elements of a task message; copies clone every task.
class CTaskList {
public:
    // An empty list reporting index failures with `texts` (which outlive the list).
    explicit CTaskList(const TaskListTexts& texts) noexcept : m_texts(&texts) {}
    // Clones every task of `other`.
    CTaskList(const CTaskList& other);
    // Clones first, so that a failure leaves the list as it was; the texts stay this list's.
    CTaskList& operator=(const CTaskList& other);
    virtual ~CTaskList();

    virtual const TaskSourceVector& GetTasks() const;
    virtual TaskSourceVector& GetTasks();
    virtual std::size_t GetTaskCount() const;
    // Task `index`; beyond the count throws CCmlException (the get text, "Invalid vector
    // index", 0xC738000B).
    virtual const CTaskSource& GetTask(std::size_t index) const;
    virtual CTaskSource& GetTask(std::size_t index);
    // Replaces task `index` (deleting the old one) with `task` (taking ownership; null throws
    // 0xC7210003) / with a clone of it; beyond the count throws (the set text, "Invalid vector
    // index", 0xC738000B).
    virtual CTaskSource& SetTask(std::size_t index, CTaskSource* task);
    virtual CTaskSource& SetTask(std::size_t index, const CTaskSource& task);
    // Appends `task`, taking ownership; null throws ("Adding task to task vector", "NULL object
    // pointer", 0xC7210003).
    virtual CTaskSource& AddTask(CTaskSource* task);
    // Appends a clone ("Creating task specification object" when memory runs out).
    virtual CTaskSource& AddTask(const CTaskSource& task);

protected:
    CTaskSource& AppendTask(std::unique_ptr<CTaskSource> task);
    void ClearTasks() { m_tasks.clear(); }
    void CollectTaskNamespaces(NamespaceSet& namespaces) const;
    // Writes every task at `level`, in order.
    template <typename Stream>
    void SerializeTasks(Stream& stream, int level) const {
        for (const auto& task : m_tasks) task->Serialize(stream, level);
    }

private:
    const TaskListTexts* m_texts;
    TaskSourceVector m_tasks;
};

// "configure-task-request": the tasks to configure, normally CTaskDescriptor objects. Index
// failures name "Getting task object" / "Setting task object".
class CConfigureTaskRequest : public CCmlRequest, public CTaskList {
public:
    // Tag "configure-task-request", the "/cml" namespace, need-reply true, no task.
    CConfigureTaskRequest();
    // Deep copy: every task is cloned.
    CConfigureTaskRequest(const CConfigureTaskRequest& other) = default;
    ~CConfigureTaskRequest() override;

    // Request fields, then clones of the other's tasks; self-assignment does nothing.
    virtual CConfigureTaskRequest& operator=(const CConfigureTaskRequest& other);
    // A heap copy ("Cloning configure-task-request object", 0xC7210001).
    std::unique_ptr<CConfigureTaskRequest> Clone() const {
        return std::unique_ptr<CConfigureTaskRequest>(DoClone());
    }

    using CTaskList::AddTask;
    // Appends the element as a CTaskNode.
    virtual CTaskSource& AddTask(const CCmlDOM_Element& element);

    // True when it holds a task.
    bool HasContent() const override;
    // The request's namespace, then each task's in order.
    void CollectNamespaces(NamespaceSet& namespaces) const override;
    // The request fields, then every "/cml" "task" child as a CTaskDescriptor. A null element
    // throws CCmlException ("Parsing configure-task-request element", "No task
    // specifications", 0xC7380005).
    void Deserialize(const CCmlDOM_Element& element) override;
    // Each task at `level`.
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

protected:
    CConfigureTaskRequest* DoClone() const override;
};

// "configure-task-response", "pause-task-response", "resume-task-response",
// "stop-task-response", "delete-task-data-response" and "get-task-status-response": one
// task status per task. Index failures name "Getting task source from task response" /
// "Setting task response task source".
class CTaskResponse : public CCmlResponse, public CTaskList {
public:
    // A response with the element name `tagName`, code 0 and the "/cml" namespace.
    explicit CTaskResponse(const char16_t* tagName);
    // Deep copy: every task is cloned.
    CTaskResponse(const CTaskResponse& other) = default;
    ~CTaskResponse() override;

    // Response fields, then clones of the other's tasks; self-assignment does nothing.
    virtual CTaskResponse& operator=(const CTaskResponse& other);
    // A heap copy ("Cloning <tag name> object", 0xC7210001 when memory runs out).
    std::unique_ptr<CTaskResponse> Clone() const { return std::unique_ptr<CTaskResponse>(DoClone()); }

    // True when it holds a task status.
    bool HasContent() const override;
    // The response fields, then every "/cml" "task-status" child as a CTaskStatus. A DOM
    // failure throws CCmlException ("Parsing task-related response element").
    void Deserialize(const CCmlDOM_Element& element) override;
    // Each task status at `level`.
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

protected:
    CTaskResponse* DoClone() const override;
};

}  // namespace zel::cml
