#include "real_peers.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace zentrova::testing {

namespace {

constexpr std::chrono::seconds kStartLimit{20};

// A folder the server's own user can enter (the scratch folder is private).
bool MakeFolder(const std::string& path, const passwd* owner, std::string& problem) {
  std::error_code ignored;
  std::filesystem::create_directories(path, ignored);
  if (chmod(path.c_str(), 0755) != 0 ||
      (owner && chown(path.c_str(), owner->pw_uid, owner->pw_gid) != 0)) {
    problem = "cannot prepare " + path;
    return false;
  }
  return true;
}

}  // namespace

void RealServer::StartOnFreePort(const std::function<bool(int port)>& write,
                                 const std::vector<std::string>& argv, const std::string& ready) {
  for (int attempt = 0; attempt < 3 && !ready_; ++attempt) {
    process_.Stop();
    port_ = UnusedPort();
    if (!write(port_)) return;
    ready_ = process_.Start(argv, problem_) && process_.WaitFor(ready, kStartLimit);
  }
  if (!ready_) problem_ += process_.Output();
}

// ------------------------------------------------------------------ Postfix

Postfix::Postfix() {
  const passwd* owner = getpwnam("postfix");
  if (geteuid() != 0 || !owner) {
    problem_ = owner ? "Postfix runs only as root" : "no user postfix: is Postfix installed?";
    return;
  }
  const std::string etc = dir_.File("etc");
  if (!MakeFolder(dir_.Path(), nullptr, problem_) || !MakeFolder(etc, nullptr, problem_) ||
      !MakeFolder(dir_.File("queue"), nullptr, problem_) ||
      !MakeFolder(dir_.File("data"), owner, problem_) ||
      !MakeFolder(dir_.File("mail"), owner, problem_))
    return;
  const std::string uid = std::to_string(owner->pw_uid), gid = std::to_string(owner->pw_gid);
  // Refused at HELO itself, not at the first RCPT TO; a bare LF refused from
  // loopback clients too (by default $mynetworks are exempt).
  WriteFile(etc + "/main.cf",
            R"(compatibility_level = 3.6
myhostname = mx.zentrova.test
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
maillog_file = /dev/stdout
alias_maps =
alias_database =
biff = no
smtputf8_enable = no
mynetworks = 127.0.0.0/8
smtpd_helo_required = yes
smtpd_helo_restrictions = reject_invalid_helo_hostname, reject_non_fqdn_helo_hostname
smtpd_delay_reject = no
smtpd_forbid_bare_newline = reject
smtpd_forbid_bare_newline_exclusions =
smtpd_recipient_restrictions = permit_mynetworks, reject_unauth_destination
virtual_mailbox_domains = gateway.zentrova.test
virtual_mailbox_maps = inline:{ )" +
                std::string(kMailbox) + "=box/ }\nqueue_directory = " + dir_.File("queue") +
                "\ndata_directory = " + dir_.File("data") +
                "\nvirtual_mailbox_base = " + dir_.File("mail") +
                "\nvirtual_uid_maps = static:" + uid + "\nvirtual_gid_maps = static:" + gid + "\n");
  const auto write = [&](int port) {
    // Only the services a delivery to a virtual mailbox needs, none chrooted.
    WriteFile(etc + "/master.cf", "127.0.0.1:" + std::to_string(port) +
                                      " inet n - n - - smtpd\n"
                                      "cleanup unix n - n - 0 cleanup\n"
                                      "qmgr unix n - n 300 1 qmgr\n"
                                      "rewrite unix - - n - - trivial-rewrite\n"
                                      "bounce unix - - n - 0 bounce\n"
                                      "defer unix - - n - 0 bounce\n"
                                      "trace unix - - n - 0 bounce\n"
                                      "verify unix - - n - 1 verify\n"
                                      "proxymap unix - - n - - proxymap\n"
                                      "error unix - - n - - error\n"
                                      "retry unix - - n - - error\n"
                                      "discard unix - - n - - discard\n"
                                      "virtual unix - n n - - virtual\n"
                                      "anvil unix - - n - 1 anvil\n"
                                      "scache unix - - n - 1 scache\n"
                                      "postlog unix-dgram n - n - 1 postlogd\n");
    // Creates the queue's folders with their owners and modes.
    ProcessResult check = RunProcess({"/usr/sbin/postfix", "-c", etc, "check"}, {});
    if (check.exitCode != 0) problem_ = "postfix check: " + check.out + check.err;
    return check.exitCode == 0;
  };
  // The master process itself, in the foreground, so that stopping it stops the whole instance.
  StartOnFreePort(write, {"/usr/lib/postfix/sbin/master", "-d", "-c", etc}, "daemon started");
}

std::string Postfix::NextDelivery(std::chrono::milliseconds limit) {
  if (!process_.WaitFor("status=sent", limit, delivered_ + 1)) return "";
  ++delivered_;
  // Each delivered file is taken away once read, so new/ holds this one alone.
  std::error_code ignored;
  for (const auto& entry :
       std::filesystem::directory_iterator(dir_.File("mail/box/new"), ignored)) {
    std::string bytes = ReadFile(entry.path().string());
    std::filesystem::remove(entry.path(), ignored);
    return bytes;
  }
  return "";
}

// -------------------------------------------------------------------- squid

Squid::Squid(const std::string& user, const std::string& password) {
  ProcessResult hash = RunProcess({"/usr/bin/openssl", "passwd", "-apr1", password}, {});
  if (hash.exitCode != 0 || hash.out.empty()) {
    problem_ = "openssl passwd: " + hash.err;
    return;
  }
  hash.out.pop_back();  // its line end
  if (!MakeFolder(dir_.Path(), nullptr, problem_)) return;
  WriteFile(dir_.File("passwd"), user + ":" + hash.out + "\n");
  chmod(dir_.File("passwd").c_str(), 0644);
  const std::string config = dir_.File("squid.conf");
  const auto write = [&](int port) {
    // It stops at once, and reports an unreachable server at once.
    WriteFile(config, "http_port 127.0.0.1:" + std::to_string(port) + "\ncoredump_dir " +
                          dir_.Path() +
                          "\nauth_param basic program /usr/lib/squid/basic_ncsa_auth " +
                          dir_.File("passwd") + R"(
visible_hostname proxy.zentrova.test
pid_filename none
cache deny all
access_log none
cache_log /dev/stderr
pinger_enable off
dns_nameservers 127.0.0.1
shutdown_lifetime 0 seconds
forward_max_tries 1
connect_retries 0
auth_param basic children 1 startup=1
auth_param basic realm zentrova
acl authenticated proxy_auth REQUIRED
http_access allow authenticated
http_access deny all
)");
    return true;
  };
  StartOnFreePort(write, {"/usr/sbin/squid", "-N", "-d", "1", "-f", config},
                  "Accepting HTTP Socket connections");
}

// ------------------------------------------------------------------ aiosmtpd

MailboxServer::MailboxServer() {
  std::string error;
  if (!process_.Start({"/usr/bin/python3", ZV_SOURCE_DIR "/tests/smtp/mailbox_server.py"}, error))
    return;
  if (!process_.WaitFor("\n", kStartLimit)) return;
  const std::string ready = process_.Output();
  if (ready.starts_with("ready "))
    address_ = "127.0.0.1:" + std::to_string(std::stoi(ready.substr(6)));
}

nlohmann::json MailboxServer::Mail(int seq) {
  const std::string marker = "\"seq\": " + std::to_string(seq) + "}";
  if (!process_.WaitFor(marker, kStartLimit)) return nullptr;
  const std::string output = process_.Output();
  const std::size_t end = output.find(marker) + marker.size();
  const std::size_t begin = output.rfind('\n', end - 1) + 1;
  return nlohmann::json::parse(output.substr(begin, end - begin));
}

}  // namespace zentrova::testing
