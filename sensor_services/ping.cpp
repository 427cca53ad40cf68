// The ping: queueing (PostPing), the walk along the controller list that sends it, and the
// reading of the controller's reply.
#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "runtime/guid.h"
#include "runtime/unicode.h"
#include "sensor_services/ctrlexc.h"
#include "sensor_services/dump_file.h"
#include "sensor_services/failure_text.h"
#include "sensor_services/heartbeat_message.h"
#include "sensor_services/sensor_services_object.h"
#include "sensor_services/trace_texts.h"
#include "zel/status_codes.h"

namespace zel::ss {

namespace {

constexpr const char* kProcessWhere = "CSensorServices::HelperProcessPingResponse";
// The name the reply goes by in the parser's error texts.
constexpr const char16_t* kPingResponseDocument = u"ZEL-SensorServices-Ping-Response";
// The reply's element that echoes the request identifier (in its "request-id").
constexpr const char16_t* kPingReplyElement = u"agent-ping";
// The pause before a busy controller is asked again.
constexpr std::chrono::milliseconds kBusyPause(500);

// The UTF-8 "request-id" of the first "agent-ping" element that has one; false when none has.
bool FindRequestId(const cml::CCmlParser& parser, std::string& requestId) {
    const cml::CCmlDOM_Document document = parser.GetDocument();
    if (document.IsNull()) return false;
    const cml::CCmlDOM_NodeList elements(document.GetDocument()->getElementsByTagName(kPingReplyElement));
    // Item() until a null node: the length of a by-name list walks the whole document each
    // time it is asked, and an item after it starts the walk again from the top.
    for (std::size_t i = 0;; ++i) {
        const cml::CCmlDOM_Element element(elements.Item(i));
        if (element.IsNull()) return false;
        if (!element.HasAttribute(cml::kTagRequestId)) continue;
        requestId = ToUtf8(element.GetAttribute(cml::kTagRequestId));
        return true;
    }
}

}  // namespace

uint32_t CSensorServices::PostPing(char* idBuffer, uint32_t* idLength) {
    std::unique_ptr<CPingRecord> record(new (std::nothrow) CPingRecord);
    if (!record) return ZEL_E_NO_VIRTUAL_MEMORY;

    // Empty when no identifier could be made; the ping still goes out.
    std::string requestId = ToUtf8(NewGuidText());

    CopyIdentifier(requestId, idBuffer, idLength);
    if (DumpEnabled()) WriteDumpFile(kPingRequestDumpFile, requestId.data(), requestId.size());
    record->Adopt(std::move(requestId));

    std::unique_ptr<CPingRecord> older;
    {
        ObjectLock lock(*this);
        older = std::move(m_pendingPing);
        m_pendingPing = std::move(record);
    }
    return TriggerDispatch();
}

uint32_t CSensorServices::SendPing(int32_t& server) {
    std::unique_ptr<CPingRecord> record;
    PostTimeouts timeouts;
    std::vector<int32_t> servers;
    uint32_t maxServerRetry = 0;
    {
        ObjectLock lock(*this);
        record = std::move(m_pendingPing);
        if (!record) return 0;
        timeouts = Timeouts();
        // The walk runs without the lock; a settings change may reload the retry state's
        // list meanwhile, so it walks a copy.
        if (svcRetryState* retryState = RetryState()) {
            servers = retryState->GetServers();
            maxServerRetry = retryState->GetMaxServerRetry();
        }
    }

    const CSessionConfigLoader* binding = Binding();
    const int32_t first = server;
    int32_t current = server;
    uint32_t busyCount = 0;
    // Bounds the walk when the first controller has left the list and so never comes round.
    std::size_t moves = 0;
    uint32_t status = 0;
    try {
        for (;;) {
            char* raw = nullptr;
            uint32_t responseLength = 0;
            status = binding->PostData(0, current, kPingPath, 0, kPingMimeType, record->Bytes(), record->Length(),
                                       timeouts.values, &raw, &responseLength);
            const ModuleText response(raw, {binding});
            if (status == 0) {
                // An empty answer is a success too, but names no controller to move to.
                if (response) {
                    // A refused reply is told like a failed post; the ping itself succeeded.
                    const uint32_t replyStatus = HelperProcessPingResponse(response.get(), responseLength);
                    if (replyStatus != 0) ReportError(replyStatus, SS_CHANNEL_PING);
                    // The agent has heard of the reply; the controller that gave it now takes
                    // the heartbeats (what the callback asked of the retry state meanwhile,
                    // such as a return to the primary, gives way to the controller that answered).
                    {
                        ObjectLock lock(*this);
                        if (svcRetryState* retryState = RetryState()) retryState->SetState(0, current);
                    }
                    server = current;
                }
                break;
            }
            ReportError(status, SS_CHANNEL_PING);

            // After SS_ShutDown the walk ends here: its outcome can no longer reach anyone.
            if (StopRequested()) break;
            if (status == ZEL_E_SCS_HTTP_BUSY && ++busyCount <= maxServerRetry) {
                std::this_thread::sleep_for(kBusyPause);
                continue;
            }
            busyCount = 0;

            // The next controller after this one, wrapping round; one no longer listed
            // starts again from the primary.
            int32_t position = -1;
            for (std::size_t i = 0; i < servers.size(); ++i)
                if (servers[i] == current) position = static_cast<int32_t>(i);
            const std::size_t next = position < 0 ? 0 : static_cast<std::size_t>(position) + 1;
            current = servers.empty() ? -1 : servers[next % servers.size()];
            if (current < 0 || current == first || ++moves > servers.size()) break;
        }
    } catch (...) {
        status = ZEL_E_INTERNAL;
    }

    if (status != 0) {
        const std::string requestId(record->Bytes(), record->Length());
        CallPingCallback(requestId, status, nullptr, 0);
    }
    return status;
}

uint32_t CSensorServices::HelperProcessPingResponse(const char* response, uint32_t length) {
    // Without a callback nobody wants the reply: it is neither dumped nor parsed.
    if (!Callbacks().pingResponse) return 0;
    if (!response || length == 0) {
        AgentTrace(TraceSink(), SS_TRACE_ERROR, kProcessWhere, text::kRequiredParameterNull);
        return ZEL_E_INVALIDARG;
    }
    if (DumpEnabled()) WriteDumpFile(kPingResponseDumpFile, response, length);

    std::string requestId;
    std::string failure;
    uint32_t cmlCode = 0;
    try {
        const cml::CCmlParserPool::CLease parser = ReplyParsers().Take();
        const cml::CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>(response), length,
                                               kPingResponseDocument);
        parser->Parse(input, cml::kParseNonValidating);
        if (!FindRequestId(*parser, requestId))
            throw CTRLEXC(text::kNoPingRequestId, ZEL_E_SS_BAD_RESPONSE);
    } catch (const CTRLEXC& exception) {
        failure = exception.Message();
    } catch (const cml::CSchemaException& exception) {
        failure = SchemaFailureText(exception);
        cmlCode = exception.GetCode();
    } catch (const cml::CCmlException& exception) {
        failure = text::kCmlParseFailed + ExceptionMessage(exception);
        cmlCode = exception.GetCode();
    } catch (...) {
        failure = text::kUnexpectedParseFailure;
    }

    if (!failure.empty()) {
        // Every failure of this routine is a reply it could not read.
        const uint32_t status = ZEL_E_SS_BAD_RESPONSE;
        if (TraceEnabled(TraceSink(), SS_TRACE_ERROR)) {
            const std::string text =
                failure + text::kErrCodeLabel + HexStatus(status) + text::kCmlCodeLabel + HexStatus(cmlCode);
            AgentTrace(TraceSink(), SS_TRACE_ERROR, kProcessWhere, text.c_str());
        }
        return status;
    }

    CallPingCallback(requestId, 0, response, length);
    return 0;
}

void CSensorServices::CallPingCallback(const std::string& requestId, uint32_t status, const char* response,
                                       uint32_t length) {
    // Read now: the agent may have removed the callback while the reply was parsed.
    const SS_PingCallback callback = Callbacks().pingResponse;
    if (!callback) return;
    // What the agent's code throws must not end the walk or the dispatch thread.
    try {
        callback(requestId.c_str(), static_cast<uint32_t>(requestId.size()), status, response, length);
    } catch (...) {
        AgentTrace(TraceSink(), SS_TRACE_ERROR, kProcessWhere, text::kPingCallbackFailed);
    }
}

}  // namespace zel::ss
