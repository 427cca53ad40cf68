// CCmlMessage: the message envelope that carries requests and responses between an agent
// and the controller, and the whole CML document around it.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/agent_info.h"
#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/message_base.h"

namespace zel::cml {

using RequestVector = std::vector<std::unique_ptr<CCmlRequest>>;
using ResponseVector = std::vector<std::unique_ptr<CCmlResponse>>;
using DestinationVector = std::vector<CAgentInfo>;

class CCmlMessage {
public:
    // An empty envelope: source tag "source", no destinations, not broadcast, empty ids.
    CCmlMessage();
    // Copies the fields and clones every request and response in order.
    CCmlMessage(const CCmlMessage& other);
    virtual ~CCmlMessage();

    // As the copy constructor; the requests and responses held before are deleted.
    virtual CCmlMessage& operator=(const CCmlMessage& other);
    // A heap copy; throws CCmlException ("Cloning envelope object", 0xC7210001) when memory runs out.
    virtual std::unique_ptr<CCmlMessage> Clone() const;
    // Adds the base URI with "1.0.0" and "/cml" with "2.4.2", then each request's and each
    // response's namespaces in order (source and destinations add nothing).
    virtual void CollectNamespaces(NamespaceSet& namespaces) const;

    virtual const CAgentInfo& GetSource() const;
    virtual CAgentInfo& GetSource();
    virtual const DestinationVector& GetDestinations() const;
    virtual bool GetBroadcast() const;
    virtual const std::u16string& GetMessageId() const;
    // Empty when the envelope answers nothing.
    virtual const std::u16string& GetResponseTo() const;
    // Stores a copy of `source` with the tag name "source".
    virtual void SetSource(const CAgentInfo& source);
    virtual void SetBroadcast(const bool& broadcast);
    // Null pointers give empty strings.
    virtual void SetMessageId(const char16_t* messageId);
    virtual void SetResponseTo(const char16_t* responseTo);
    // Appends a copy with the tag name "destination" and returns the stored element.
    virtual CAgentInfo& AddDestination(const CAgentInfo& destination);

    // Takes ownership and appends; a null pointer throws CCmlException ("Adding request to
    // message vector", "Internal error: invalid parameter", 0xC7210003).
    virtual CCmlRequest* AddRequest(std::unique_ptr<CCmlRequest> request);
    // The raw-pointer form of the above: the envelope owns `request` afterwards.
    virtual CCmlRequest* AddRequest(CCmlRequest* request);
    // Appends a clone of `request` and returns the stored object.
    virtual CCmlRequest* AddRequest(const CCmlRequest& request);
    // The same three for responses ("Adding response to message vector").
    virtual CCmlResponse* AddResponse(std::unique_ptr<CCmlResponse> response);
    virtual CCmlResponse* AddResponse(CCmlResponse* response);
    virtual CCmlResponse* AddResponse(const CCmlResponse& response);
    // In insertion order.
    virtual const RequestVector& GetRequests() const;
    virtual RequestVector& GetRequests();
    virtual const ResponseVector& GetResponses() const;
    virtual ResponseVector& GetResponses();

    // Reads a "message-envelope" element: drops the requests and responses held, then reads
    // broadcast, ids, "source", every "destination" and the requests and responses of
    // "message-body" through the factories. A null element throws CCmlException
    // ("Deserializing message-envelope node", "Null element received", 0xC738000F).
    virtual void Deserialize(const CCmlDOM_Element& element);
    // Writes the "message-envelope" element at `level`.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;
    // Writes the whole CML document: head, "zel" root, "cml" element, the envelope at level 2.
    virtual void SerializeDocument(std::ostream& stream) const;
    virtual void SerializeDocument(std::basic_ostream<char16_t>& stream) const;
    // Appends one request per "/cml" child element of each "request" element of `requests`,
    // each read by the class the request factory names.
    virtual void ParseRequests(const CCmlDOM_NodeList& requests);
    // The same for "response" elements and the response factory.
    virtual void ParseResponses(const CCmlDOM_NodeList& responses);

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    template <typename CharT>
    void SerializeDocumentImpl(std::basic_ostream<CharT>& stream) const;
    void CopyFrom(const CCmlMessage& other);

    CAgentInfo m_source;
    DestinationVector m_destinations;
    bool m_broadcast = false;
    std::u16string m_messageId;
    std::u16string m_responseTo;
    RequestVector m_requests;
    ResponseVector m_responses;
};

}  // namespace zel::cml
