#include "session_config/http_poster.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "zel/status_codes.h"

namespace zel::scs {
namespace {

// Idle handles kept per controller; more callers at once than this use fresh handles.
constexpr std::size_t kMaxIdleHandles = 8;
constexpr std::size_t kMaxUrlPathBytes = 2048;
constexpr std::size_t kMaxMimeTypeBytes = 256;

struct ResponseSink {
    std::string* body;
    uint64_t limit;
    bool tooLarge = false;
};

// Refuses the response as soon as it grows past the limit, so an endless reply never
// fills the memory.
size_t CollectBody(char* data, size_t size, size_t count, void* context) {
    auto* sink = static_cast<ResponseSink*>(context);
    const size_t bytes = size * count;
    if (sink->body->size() + bytes > sink->limit) {
        sink->tooLarge = true;
        return CURL_WRITEFUNC_ERROR;
    }
    sink->body->append(data, bytes);
    return bytes;
}

// Everything the controller-dependent options of a handle are made of.
auto ConnectionFields(const ControllerInfo& controller, const PostSettings& settings) {
    return std::tie(controller.hostName, controller.port, controller.type, controller.proxyHost,
                    controller.proxyPort, controller.userName, controller.passwd, controller.proxyUserName,
                    controller.proxyPasswd, settings.caFile, settings.verifyPeer, settings.maxResponseBytes);
}

}  // namespace

uint32_t StatusForHttpCode(long code) {
    switch (code) {
        case 200: return ZEL_S_OK;
        case 202: return ZEL_I_SCS_HTTP_ACCEPTED;
        case 300: case 301: case 302: case 303: case 307: case 308:
            return ZEL_W_SCS_HTTP_REDIRECT;
        case 304: return ZEL_W_SCS_HTTP_NOT_MODIFIED;
        case 305: return ZEL_E_SCS_HTTP_USE_PROXY;
        case 400: return ZEL_E_SCS_HTTP_BAD_REQUEST;
        case 401: return ZEL_E_SCS_HTTP_UNAUTHORIZED;
        case 403: return ZEL_E_SCS_HTTP_FORBIDDEN;
        case 404: return ZEL_E_SCS_HTTP_NOT_FOUND;
        case 500: return ZEL_E_SCS_HTTP_INTERNAL;
        case 503: return ZEL_E_SCS_HTTP_BUSY;
        default: break;
    }
    if (code >= 400 && code <= 599) return ZEL_E_SCS_HTTP_ERROR;
    // Informational, other success codes and anything outside the HTTP range: this
    // product's exchange cannot use them.
    return ZEL_E_SCS_HTTP_UNSUPPORTED;
}

uint32_t StatusForTransferError(CURLcode result) {
    switch (result) {
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_CLIENTCERT:
            return ZEL_E_SCS_SECURITY;
        default:
            return ZEL_E_SCS_COMMUNICATION;
    }
}

uint32_t ValidatePostArguments(const char* urlPath, const char* mimeType) {
    if (!urlPath || !mimeType) return ZEL_E_SCS_BAD_INPUT;
    const std::size_t pathLength = ::strnlen(urlPath, kMaxUrlPathBytes + 1);
    if (pathLength == 0 || pathLength > kMaxUrlPathBytes || urlPath[0] != '/')
        return ZEL_E_SCS_BAD_INPUT;
    if (!std::all_of(urlPath, urlPath + pathLength,
                     [](char c) { return c > 0x20 && c < 0x7F; }))
        return ZEL_E_SCS_BAD_INPUT;
    const std::size_t mimeLength = ::strnlen(mimeType, kMaxMimeTypeBytes + 1);
    if (mimeLength == 0 || mimeLength > kMaxMimeTypeBytes) return ZEL_E_SCS_BAD_INPUT;
    if (!std::all_of(mimeType, mimeType + mimeLength,
                     [](char c) { return c >= 0x20 && c < 0x7F; }))
        return ZEL_E_SCS_BAD_INPUT;
    return 0;
}

CHttpPoster::HandlePtr CHttpPoster::Take(int32_t serverId) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto found = m_idle.find(serverId);
        if (found != m_idle.end() && !found->second.empty()) {
            HandlePtr handle = std::move(found->second.back());
            found->second.pop_back();
            return handle;
        }
    }
    auto handle = std::make_unique<PooledHandle>();
    handle->curl.reset(curl_easy_init());
    return handle;
}

void CHttpPoster::Give(int32_t serverId, HandlePtr handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& idle = m_idle[serverId];
    if (idle.size() < kMaxIdleHandles) idle.push_back(std::move(handle));
}

void CHttpPoster::KeepOnly(const std::set<int32_t>& keep) {
    std::map<int32_t, std::vector<HandlePtr>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_idle.begin(); it != m_idle.end();) {
            if (keep.count(it->first) == 0) {
                dropped.insert(m_idle.extract(it++));
            } else {
                ++it;
            }
        }
    }
    // Closing connections can take a moment; it happens outside the lock.
}

uint32_t CHttpPoster::Post(int32_t serverId, const ControllerInfo& controller,
                           const PostSettings& settings, const PostRequest& request,
                           std::string& response, long* httpCode) {
    response.clear();
    if (httpCode) *httpCode = 0;
    HandlePtr pooled = Take(serverId);
    PooledHandle& handle = *pooled;
    if (!handle.curl) return ZEL_E_SCS_COMMUNICATION;
    CURL* const curl = handle.curl.get();
    bool ok = true;
    auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };

    // The options that follow from the controller and the settings. A reset keeps the
    // handle's open connections, DNS and TLS session caches, and forgets every option of
    // the previous configuration.
    if (!handle.configured ||
        ConnectionFields(handle.controller, handle.settings) != ConnectionFields(controller, settings)) {
        curl_easy_reset(curl);
        std::string proxy;
        if (!controller.proxyHost.empty()) {
            proxy = "http://" + controller.proxyHost;
            if (!controller.proxyPort.empty()) proxy += ":" + controller.proxyPort;
        }
        set(curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https"));
        set(curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L));
        set(curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L));
        set(curl_easy_setopt(curl, CURLOPT_POST, 1L));
        set(curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectBody));
        set(curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(settings.maxResponseBytes)));
        set(curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, settings.verifyPeer ? 1L : 0L));
        set(curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, settings.verifyPeer ? 2L : 0L));
        if (!settings.caFile.empty()) set(curl_easy_setopt(curl, CURLOPT_CAINFO, settings.caFile.c_str()));
        // An empty proxy also keeps the environment's proxy variables from redirecting posts.
        set(curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str()));
        if (!proxy.empty() && !controller.proxyUserName.empty()) {
            set(curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, controller.proxyUserName.c_str()));
            set(curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, controller.proxyPasswd.c_str()));
        }
        if (!controller.userName.empty()) {
            set(curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC)));
            set(curl_easy_setopt(curl, CURLOPT_USERNAME, controller.userName.c_str()));
            set(curl_easy_setopt(curl, CURLOPT_PASSWORD, controller.passwd.c_str()));
        }
        if (!ok) return ZEL_E_SCS_COMMUNICATION;
        handle.controller = controller;
        handle.settings = settings;
        handle.configured = true;
    }
    if (handle.mimeType != request.mimeType || !handle.headers) {
        handle.headers.reset(curl_slist_append(nullptr, (std::string("Content-Type: ") + request.mimeType).c_str()));
        if (!handle.headers) return ZEL_E_SCS_COMMUNICATION;
        // No "Expect: 100-continue" round trip before larger bodies.
        if (curl_slist* more = curl_slist_append(handle.headers.get(), "Expect:")) {
            handle.headers.release();
            handle.headers.reset(more);
        }
        handle.mimeType = request.mimeType;
    }

    // The options of this post. The URL is built in the handle's buffer, which keeps its
    // capacity from post to post.
    handle.url.assign(controller.Scheme()).append("://").append(controller.hostName).append(":");
    handle.url.append(controller.port).append(request.urlPath);
    ResponseSink sink{&response, settings.maxResponseBytes};
    const bool lowSpeedAbort = request.transferTimeoutMs == 0;
    set(curl_easy_setopt(curl, CURLOPT_URL, handle.url.c_str()));
    set(curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body ? request.body : ""));
    set(curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.bodyLength)));
    set(curl_easy_setopt(curl, CURLOPT_HTTPHEADER, handle.headers.get()));
    set(curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink));
    set(curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs)));
    set(curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.transferTimeoutMs)));
    set(curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, lowSpeedAbort ? 1L : 0L));
    set(curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, lowSpeedAbort ? kLowSpeedAbortSeconds : 0L));
    set(curl_easy_setopt(curl, CURLOPT_DNS_CACHE_TIMEOUT,
                         static_cast<long>((request.dnsCacheTimeoutMs + 999ull) / 1000)));
    if (!ok) return ZEL_E_SCS_COMMUNICATION;

    const CURLcode result = curl_easy_perform(curl);
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    // The handle must not keep pointers to this call's buffers while it waits for reuse.
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    Give(serverId, std::move(pooled));

    if (httpCode) *httpCode = code;
    const uint32_t status = result != CURLE_OK ? StatusForTransferError(result) : StatusForHttpCode(code);
    if (status != ZEL_S_OK) response.clear();
    return status;
}

}  // namespace zel::scs
