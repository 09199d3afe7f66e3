#pragma once

#include "tests/support/TempFolder.h"

#include <Poco/Process.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Veltora::Testing
{

// A real HTTP proxy for tests: Debian's tinyproxy, started on 127.0.0.1 with a
// configuration written into a temporary folder, and stopped when the object goes away.
// It forwards plain http requests (adding "Via: 1.1 tinyproxy ...") and opens CONNECT
// tunnels to any port; its log records every request it handled.
//
//     TinyProxy proxy;                               // or TinyProxy proxy({"alice", "s3cret"})
//     ... http_proxy=proxy.url() ...                 // "http://127.0.0.1:<port>"
//     EXPECT_TRUE(proxy.logged("CONNECT 127.0.0.1:" + std::to_string(server.port())));
class TinyProxy
{
public:
    struct Credentials
    {
        std::string user;
        std::string password;
    };

    // Throws std::runtime_error when tinyproxy is not installed or does not start.
    explicit TinyProxy(std::optional<Credentials> required = std::nullopt);
    ~TinyProxy();
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;

    std::uint16_t port() const { return listeningPort; }
    // "http://127.0.0.1:<port>", or with "user:password@" before the address.
    std::string url() const;
    std::string url(const std::string& user, const std::string& password) const;

    // The proxy's log so far, and whether it holds `text`.
    std::string log() const;
    bool logged(const std::string& text) const;

private:
    bool start(std::uint16_t port, const std::optional<Credentials>& required);
    void writeConfiguration(std::uint16_t port, const std::optional<Credentials>& required) const;
    void stop();

    TempFolder folder;
    std::uint16_t listeningPort = 0;
    std::unique_ptr<Poco::ProcessHandle> process;
};

} // namespace Veltora::Testing
