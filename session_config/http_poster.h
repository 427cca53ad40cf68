// HTTP and HTTPS posts to the controllers with libcurl, and the table that turns their
// outcomes into status codes.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "session_config/group_settings.h"

namespace zel::scs {

// Settings of every post, read from the local property file.
struct PostSettings {
    static constexpr uint64_t kDefaultMaxResponseBytes = 16777216;

    std::string caFile;  // PEM bundle; empty: the system's bundle
    bool verifyPeer = true;
    uint64_t maxResponseBytes = kDefaultMaxResponseBytes;
};

// One post: where it goes and what it carries. Texts are borrowed for the call.
struct PostRequest {
    const char* urlPath = nullptr;
    const char* mimeType = nullptr;
    const char* body = nullptr;
    std::size_t bodyLength = 0;
    uint32_t connectTimeoutMs = 0;   // 0: libcurl's default
    uint32_t transferTimeoutMs = 0;  // 0: no limit, but a low-speed abort
    uint32_t dnsCacheTimeoutMs = 60000;
};

// The status of a completed exchange with HTTP status code httpCode.
uint32_t StatusForHttpCode(long httpCode);

// The status of a transfer that libcurl ended with result (not CURLE_OK).
uint32_t StatusForTransferError(CURLcode result);

// 0 when path can be placed in a URL and mimeType in a header; ZEL_E_SCS_BAD_INPUT otherwise.
uint32_t ValidatePostArguments(const char* urlPath, const char* mimeType);

// Seconds without any progress after which a transfer without an overall limit is abandoned.
constexpr long kLowSpeedAbortSeconds = 60;

// Posts with one reusable libcurl handle per concurrent caller and controller, so each
// controller's connections are kept open between posts. Thread-safe.
class CHttpPoster {
public:
    CHttpPoster() = default;
    CHttpPoster(const CHttpPoster&) = delete;
    CHttpPoster& operator=(const CHttpPoster&) = delete;

    // Posts request to the controller; on HTTP 200 returns 0 with the body in response.
    // On any other outcome response is empty. httpCode receives the server's code (0 when
    // none arrived).
    uint32_t Post(int32_t serverId, const ControllerInfo& controller,
                  const PostSettings& settings, const PostRequest& request,
                  std::string& response, long* httpCode = nullptr);

    // Drops the idle handles (and with them the open connections) of controllers not in keep.
    void KeepOnly(const std::set<int32_t>& keep);

private:
    struct HandleDeleter {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };
    struct SlistDeleter {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };
    // A libcurl handle with what it was last set up for: the options that follow from the
    // controller and the settings are set again only when those change, the header list
    // only when the MIME type does. The handle goes before the list it points to.
    struct PooledHandle {
        bool configured = false;
        ControllerInfo controller;
        PostSettings settings;
        std::string mimeType;
        std::string url;
        std::unique_ptr<curl_slist, SlistDeleter> headers;
        std::unique_ptr<CURL, HandleDeleter> curl;
    };

    // Handles move in and out of the pool as pointers: what they remember is not copied.
    using HandlePtr = std::unique_ptr<PooledHandle>;
    HandlePtr Take(int32_t serverId);
    void Give(int32_t serverId, HandlePtr handle);

    std::mutex m_mutex;
    std::map<int32_t, std::vector<HandlePtr>> m_idle;
};

}  // namespace zel::scs
