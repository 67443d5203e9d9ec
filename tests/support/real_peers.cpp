#include "real_peers.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace zentrova::testing {

namespace {

constexpr std::chrono::seconds kStartLimit{20};
constexpr int kPortTries = 3;  // a free port may be taken before the server binds it

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

// ------------------------------------------------------------------ Postfix

Postfix::Postfix() {
  const passwd* owner = getpwnam("postfix");
  if (geteuid() != 0) {
    problem_ = "Postfix runs only as root";
    return;
  }
  if (!owner) {
    problem_ = "no user postfix: is Postfix installed?";
    return;
  }
  const std::string etc = dir_.File("etc");
  if (!MakeFolder(dir_.Path(), nullptr, problem_) || !MakeFolder(etc, nullptr, problem_) ||
      !MakeFolder(dir_.File("queue"), nullptr, problem_) ||
      !MakeFolder(dir_.File("data"), owner, problem_) ||
      !MakeFolder(dir_.File("mail"), owner, problem_))
    return;
  const std::string uid = std::to_string(owner->pw_uid), gid = std::to_string(owner->pw_gid);
  WriteFile(etc + "/main.cf",
            "compatibility_level = 3.6\n"
            "myhostname = mx.zentrova.test\n"
            "mydestination =\n"
            "inet_interfaces = 127.0.0.1\n"
            "inet_protocols = ipv4\n"
            "queue_directory = " +
                dir_.File("queue") +
                "\n"
                "data_directory = " +
                dir_.File("data") +
                "\n"
                "maillog_file = /dev/stdout\n"
                "alias_maps =\nalias_database =\nbiff = no\nsmtputf8_enable = no\n"
                "mynetworks = 127.0.0.0/8\n"
                "smtpd_helo_required = yes\n"
                "smtpd_helo_restrictions = reject_invalid_helo_hostname, "
                "reject_non_fqdn_helo_hostname\n"
                // Refuse at HELO itself, not at the first RCPT TO.
                "smtpd_delay_reject = no\n"
                // Loopback clients too: by default $mynetworks are exempt.
                "smtpd_forbid_bare_newline = reject\n"
                "smtpd_forbid_bare_newline_exclusions =\n"
                "smtpd_recipient_restrictions = permit_mynetworks, reject_unauth_destination\n"
                "virtual_mailbox_domains = gateway.zentrova.test\n"
                "virtual_mailbox_base = " +
                dir_.File("mail") +
                "\n"
                "virtual_mailbox_maps = inline:{ " +
                kMailbox +
                "=box/ }\n"
                "virtual_uid_maps = static:" +
                uid +
                "\n"
                "virtual_gid_maps = static:" +
                gid + "\n");
  auto writeMaster = [&] {
    // Only the services a delivery to a virtual mailbox needs, none chrooted.
    WriteFile(etc + "/master.cf", "127.0.0.1:" + std::to_string(port_) +
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
  };
  port_ = UnusedPort();
  writeMaster();
  // Creates the queue's folders with their owners and modes.
  ProcessResult check = RunProcess({"/usr/sbin/postfix", "-c", etc, "check"}, {});
  if (check.exitCode != 0) {
    problem_ = "postfix check: " + check.out + check.err;
    return;
  }
  for (int attempt = 0; attempt < kPortTries && !ready_; ++attempt) {
    if (attempt > 0) {
      process_.Stop();
      port_ = UnusedPort();
      writeMaster();
    }
    // The master process itself, in the foreground, so that stopping it
    // stops the whole instance.
    ready_ = process_.Start({"/usr/lib/postfix/sbin/master", "-d", "-c", etc}, problem_) &&
             process_.WaitFor("daemon started", kStartLimit);
  }
  if (!ready_) problem_ += process_.Output();
}

Postfix::~Postfix() { process_.Stop(); }

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
  for (int attempt = 0; attempt < kPortTries && !ready_; ++attempt) {
    process_.Stop();
    port_ = UnusedPort();
    const std::string config = dir_.File("squid.conf");
    WriteFile(config, "http_port 127.0.0.1:" + std::to_string(port_) +
                          "\n"
                          "visible_hostname proxy.zentrova.test\n"
                          "pid_filename none\n"
                          "cache deny all\n"
                          "access_log none\n"
                          "cache_log /dev/stderr\n"
                          "coredump_dir " +
                          dir_.Path() +
                          "\n"
                          "pinger_enable off\n"
                          "dns_nameservers 127.0.0.1\n"
                          // Stop at once, and report an unreachable server at once.
                          "shutdown_lifetime 0 seconds\n"
                          "forward_max_tries 1\n"
                          "connect_retries 0\n"
                          "auth_param basic program /usr/lib/squid/basic_ncsa_auth " +
                          dir_.File("passwd") +
                          "\n"
                          "auth_param basic children 1 startup=1\n"
                          "auth_param basic realm zentrova\n"
                          "acl authenticated proxy_auth REQUIRED\n"
                          "http_access allow authenticated\n"
                          "http_access deny all\n");
    ready_ = process_.Start({"/usr/sbin/squid", "-N", "-d", "1", "-f", config}, problem_) &&
             process_.WaitFor("Accepting HTTP Socket connections", kStartLimit);
  }
  if (!ready_) problem_ += process_.Output();
}

Squid::~Squid() { process_.Stop(); }

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
