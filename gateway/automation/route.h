// The automation server's one way to the gateway: a finished request document
// and the route it takes, by HTTP, by e-mail to the gateway's mailbox, or by
// HTTP with e-mail as the fallback.
#pragma once

#include <string>

#include "gateway/endpoints.h"

namespace zentrova::gateway {

enum class Route { kMail, kHttp, kHttpThenMail };

// Everything a route needs besides the document. Its proxy password is
// overwritten when it goes.
struct RouteSettings {
  Route route = Route::kHttp;
  ProxySettings proxy;        // the HTTP route's
  std::string smtpServer;     // the mail route's server, with an optional ":port"
  std::string smtpLoginName;  // mail is the fallback only when it and the server are set
  std::string from;           // the sender's e-mail address
  ~RouteSettings();
};

// delivered, or the reason it was not, as the automation server reports it.
struct RouteOutcome {
  bool delivered = false;
  std::string response;
};

// Sends document the way settings say. HTTP goes to the primary server, then
// the secondary (SendViaHttp); mail goes through the SMTP server to the
// gateway mailbox. After HTTP fails with kRetryableFailure or
// kServerNotResponding, kHttpThenMail goes on by mail when the SMTP server and
// login name are set; any other HTTP failure is final, with the transport's
// own text.
RouteOutcome DeliverRequest(const std::string& document, const RouteSettings& settings);

}  // namespace zentrova::gateway
