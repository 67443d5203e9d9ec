// The HTTP client is WinINet itself: InternetOpen, InternetConnect,
// HttpOpenRequest, HttpSendRequest, HttpQueryInfo, InternetReadFile, and
// InternetErrorDlg for the error dialog. Each handle has one owner.
//
// Two things Wine's WinINet (8.0) does differently from Windows are evened out
// here, so the transport sees Windows' results on both:
// - time-outs set on the session do not reach its requests, so they are set
//   on every request as well (on Windows the request inherits the same values);
// - a request whose reply does not come in time ends in 12030 (connection
//   aborted) instead of 12002 (time-out). A failure that comes after the
//   time-out had run out is reported as the time-out it is, measured on the
//   steady clock against the limit.
#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/http_rules.h"
#include "platform/win32/handles.h"

namespace zentrova::platform {
namespace {

using Clock = std::chrono::steady_clock;

// The context every handle is opened with; the status callback needs a
// context that is not 0 to be called at all.
constexpr DWORD_PTR kContext = 1;

// Slack for a time-out that WinINet ends a few milliseconds before its limit.
constexpr long kTimeoutSlackMs = 50;

// An internet handle: InternetCloseHandle.
class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET h) : h_(h) {}
  ~InternetHandle() { Reset(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  InternetHandle& operator=(InternetHandle&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  HINTERNET get() const { return h_; }
  void Reset() {
    if (h_) InternetCloseHandle(std::exchange(h_, nullptr));
  }

 private:
  HINTERNET h_ = nullptr;
};

// What the status callback saw of the send under way on this thread. WinINet
// calls back on the caller's thread for a synchronous request.
struct SendProgress {
  bool connected = false;
  bool requestSent = false;
};
thread_local SendProgress* t_progress = nullptr;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR, DWORD status, LPVOID, DWORD) {
  if (!t_progress) return;
  if (status == INTERNET_STATUS_CONNECTED_TO_SERVER) t_progress->connected = true;
  if (status == INTERNET_STATUS_REQUEST_SENT) t_progress->requestSent = true;
}

// WinINet's own words for its error numbers; Wine's library carries no
// message table, so these stand in for the ones Windows would give.
const char* KnownText(DWORD code) {
  switch (code) {
    case ERROR_INTERNET_TIMEOUT:
      return "The operation timed out";
    case ERROR_INTERNET_INTERNAL_ERROR:
      return "An internal error occurred in the Microsoft Internet extensions";
    case ERROR_INTERNET_INVALID_URL:
      return "The URL is invalid";
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      return "The server name or address could not be resolved";
    case ERROR_INTERNET_INCORRECT_HANDLE_STATE:
      return "The operation cannot be carried out on the handle in its current state";
    case ERROR_INTERNET_CANNOT_CONNECT:
      return "A connection with the server could not be established";
    case ERROR_INTERNET_CONNECTION_ABORTED:
      return "The connection with the server was terminated abnormally";
    case ERROR_INTERNET_CONNECTION_RESET:
      return "The connection with the server was reset";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return "The server returned an invalid or unrecognized response";
    default:
      return nullptr;
  }
}

// The failure of the WinINet call just made, with the system's text for it.
bool FailWithLastError(HttpError& error) {
  DWORD code = GetLastError();
  std::string text;
  if (code >= INTERNET_ERROR_BASE && code <= INTERNET_ERROR_LAST) {
    char* buffer = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             GetModuleHandleA("wininet.dll"), code, 0,
                             reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (n && buffer) text.assign(buffer, n);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
      text.pop_back();
    if (text.empty() && KnownText(code)) text = KnownText(code);
  }
  if (text.empty()) text = win32::ErrorText(code);
  return Fail(error, code, text);
}

void SetTimeout(HINTERNET handle, DWORD option, long ms) {
  if (ms <= 0) return;
  DWORD value = static_cast<DWORD>(ms);
  InternetSetOptionA(handle, option, &value, sizeof value);
}

}  // namespace

bool InitialiseHttp(std::string& message) {
  (void)message;  // WinINet has no process-wide set-up
  return true;
}

// ---- session -------------------------------------------------------------------

struct HttpSession::Impl {
  InternetHandle handle;
  HttpTimeouts timeouts;
};

HttpSession::HttpSession() = default;
HttpSession::~HttpSession() = default;

bool HttpSession::Open(std::string_view userAgent, HttpAccess access, const HttpProxy& proxy,
                       HttpError& error) {
  impl_.reset();
  auto impl = std::make_unique<Impl>();
  std::string agent(userAgent), list;
  DWORD type = INTERNET_OPEN_TYPE_DIRECT;
  DWORD flags = 0;
  if (access == HttpAccess::kPreconfig) type = INTERNET_OPEN_TYPE_PRECONFIG;
  if (access == HttpAccess::kProxy) {
    // A proxy for plain HTTP only, without a bypass list.
    std::string url;
    if (!ProxyUrl(proxy, url, error)) return false;
    list = "http=" + url;
    type = INTERNET_OPEN_TYPE_PROXY;
    flags = INTERNET_FLAG_DONT_CACHE;
  }
  impl->handle = InternetHandle(
      InternetOpenA(agent.c_str(), type, type == INTERNET_OPEN_TYPE_PROXY ? list.c_str() : nullptr,
                    nullptr, flags));
  if (!impl->handle.get()) return FailWithLastError(error);
  InternetSetStatusCallbackA(impl->handle.get(), OnStatus);
  impl_ = std::move(impl);
  return true;
}

bool HttpSession::ThroughProxy() const {
  if (!impl_) return false;
  // WinINet tells which way the system's settings send a request.
  alignas(INTERNET_PROXY_INFO) char buffer[2048];
  DWORD size = sizeof buffer;
  if (!InternetQueryOptionA(impl_->handle.get(), INTERNET_OPTION_PROXY, buffer, &size))
    return false;
  return reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer)->dwAccessType ==
         INTERNET_OPEN_TYPE_PROXY;
}

void HttpSession::SetTimeouts(const HttpTimeouts& timeouts) {
  if (!impl_) return;
  HttpTimeouts t = timeouts;
  // WinINet bounds each step, not the whole attempt: no step may outlast it.
  if (t.attemptMs > 0) {
    for (long* step : {&t.connectMs, &t.sendMs, &t.receiveMs})
      if (*step == 0 || *step > t.attemptMs) *step = t.attemptMs;
  }
  impl_->timeouts = t;
  SetTimeout(impl_->handle.get(), INTERNET_OPTION_CONNECT_TIMEOUT, t.connectMs);
  SetTimeout(impl_->handle.get(), INTERNET_OPTION_SEND_TIMEOUT, t.sendMs);
  SetTimeout(impl_->handle.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, t.receiveMs);
  if (t.connectRetries > 0) {
    DWORD retries = t.connectRetries;
    InternetSetOptionA(impl_->handle.get(), INTERNET_OPTION_CONNECT_RETRIES, &retries,
                       sizeof retries);
  }
}

// ---- connection ----------------------------------------------------------------

struct HttpConnection::Impl {
  InternetHandle handle;
  HttpTimeouts timeouts;
};

HttpConnection::HttpConnection() = default;
HttpConnection::~HttpConnection() = default;

bool HttpConnection::Open(const HttpSession& session, std::string_view server, int port,
                          HttpError& error) {
  impl_.reset();
  if (!session.impl_)
    return Fail(error, kInternetErrorIncorrectHandleState, "the internet session is not open");
  std::string host;
  if (!ParseServerName(server, host, port, error)) return false;
  if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);  // IPv6
  auto impl = std::make_unique<Impl>();
  impl->timeouts = session.impl_->timeouts;
  impl->handle = InternetHandle(InternetConnectA(session.impl_->handle.get(), host.c_str(),
                                                 static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                                 INTERNET_SERVICE_HTTP, 0, kContext));
  if (!impl->handle.get()) return FailWithLastError(error);
  impl_ = std::move(impl);
  return true;
}

bool HttpConnection::IsOpen() const { return impl_ != nullptr; }

// ---- request -------------------------------------------------------------------

struct HttpRequest::Impl {
  InternetHandle handle;
  HttpTimeouts timeouts;
  bool replied = false;
  SendProgress progress;

  // Wine's answer to a reply that did not come in time (12030, or 12029 for a
  // connection) becomes Windows' 12002 once the limit of the step has passed.
  void CorrectTimeout(HttpError& error, Clock::time_point start) const {
    if (error.code != kInternetErrorConnectionAborted && error.code != kInternetErrorCannotConnect)
      return;
    // Wine reports the request sent without reporting the connection first.
    bool connected = progress.connected || progress.requestSent;
    long limit = connected ? timeouts.receiveMs : timeouts.connectMs;
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (limit > 0 && elapsed + kTimeoutSlackMs >= limit) {
      error.code = kInternetErrorTimeout;
      error.message = KnownText(ERROR_INTERNET_TIMEOUT);
    }
  }
};

HttpRequest::HttpRequest() = default;
HttpRequest::~HttpRequest() = default;

bool HttpRequest::Open(const HttpConnection& connection, std::string_view verb,
                       std::string_view objectName, HttpError& error) {
  impl_.reset();
  if (!connection.impl_)
    return Fail(error, kInternetErrorIncorrectHandleState, "the connection is not open");
  auto impl = std::make_unique<Impl>();
  impl->timeouts = connection.impl_->timeouts;
  std::string v(verb), object(objectName);
  impl->handle = InternetHandle(HttpOpenRequestA(connection.impl_->handle.get(), v.c_str(),
                                                 object.c_str(), "HTTP/1.1", nullptr, nullptr,
                                                 INTERNET_FLAG_KEEP_CONNECTION, kContext));
  if (!impl->handle.get()) return FailWithLastError(error);
  HINTERNET h = impl->handle.get();
  SetTimeout(h, INTERNET_OPTION_CONNECT_TIMEOUT, impl->timeouts.connectMs);
  SetTimeout(h, INTERNET_OPTION_SEND_TIMEOUT, impl->timeouts.sendMs);
  SetTimeout(h, INTERNET_OPTION_RECEIVE_TIMEOUT, impl->timeouts.receiveMs);
  impl_ = std::move(impl);
  return true;
}

bool HttpRequest::IsOpen() const { return impl_ != nullptr; }

bool HttpRequest::Send(std::string_view body, HttpError& error) {
  if (!impl_) return Fail(error, kInternetErrorIncorrectHandleState, "the request is not open");
  Impl& impl = *impl_;
  impl.replied = false;
  impl.progress = SendProgress{};
  const auto start = Clock::now();
  t_progress = &impl.progress;
  BOOL sent = HttpSendRequestA(impl.handle.get(), nullptr, 0, const_cast<char*>(body.data()),
                               static_cast<DWORD>(body.size()));
  t_progress = nullptr;
  if (!sent) {
    FailWithLastError(error);
    impl.CorrectTimeout(error, start);
    error.requestSent = impl.progress.requestSent;
    return false;
  }
  impl.replied = true;
  return true;
}

bool HttpRequest::QueryStatusCode(unsigned long& status, HttpError& error) const {
  if (!impl_ || !impl_->replied)
    return Fail(error, kInternetErrorIncorrectHandleState, "no reply has been received");
  DWORD value = 0, size = sizeof value;
  if (!HttpQueryInfoA(impl_->handle.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value,
                      &size, nullptr))
    return FailWithLastError(error);
  status = value;
  return true;
}

bool HttpRequest::Read(char* buffer, std::size_t size, std::size_t& read, HttpError& error) {
  read = 0;
  if (!impl_ || !impl_->replied)
    return Fail(error, kInternetErrorIncorrectHandleState, "no reply has been received");
  DWORD got = 0;
  const auto start = Clock::now();
  DWORD ask = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!InternetReadFile(impl_->handle.get(), buffer, ask, &got)) {
    FailWithLastError(error);
    impl_->progress.connected = true;  // a body stalls against the receive limit
    impl_->CorrectTimeout(error, start);
    error.requestSent = true;
    return false;
  }
  read = got;
  return true;
}

bool HttpRequest::SetProxyCredentials(std::string_view userName, std::string_view password,
                                      HttpError& error) {
  if (!impl_) return Fail(error, kInternetErrorIncorrectHandleState, "the request is not open");
  std::string user(userName), secret(password);
  if (!InternetSetOptionA(impl_->handle.get(), INTERNET_OPTION_PROXY_USERNAME, user.data(),
                          static_cast<DWORD>(user.size())) ||
      !InternetSetOptionA(impl_->handle.get(), INTERNET_OPTION_PROXY_PASSWORD, secret.data(),
                          static_cast<DWORD>(secret.size())))
    return FailWithLastError(error);
  return true;
}

void HttpRequest::ShowErrorDialog(unsigned long error) {
  if (!impl_) return;
  // With these flags Windows shows a dialog only when the request's state
  // calls for one (a proxy asking for a password); its answer is not used.
  InternetErrorDlg(GetDesktopWindow(), impl_->handle.get(), error,
                   FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                       FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                   nullptr);
}

}  // namespace zentrova::platform
