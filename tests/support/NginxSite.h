#pragma once

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <string>

namespace Veltora::Testing
{

// The system's nginx serving a published release tree through the documented server
// block (docs/nginx-release-site.conf) on a free loopback port, with basic authentication
// for /api/ by the user "updater" and the password "secret". nginx runs in the background
// from start() until the object is destroyed. Its access log records every request with
// its status, one line each: "GET /path 206".
class NginxSite
{
public:
    static constexpr const char* user = "updater";
    static constexpr const char* password = "secret";

    // `documentedBlock` is the server block to run, `site` the tree it serves and
    // `workFolder` a folder of the test's own for nginx's configuration, logs and
    // temporary files.
    NginxSite(boost::filesystem::path documentedBlock, boost::filesystem::path site,
              boost::filesystem::path workFolder);
    ~NginxSite();
    NginxSite(const NginxSite&) = delete;
    NginxSite& operator=(const NginxSite&) = delete;

    // Starts nginx and waits until it accepts connections; `httpDirectives` go into its
    // http block (a rate limit, say). Throws std::runtime_error with nginx's own error
    // output when it does not start, or when the block no longer holds what is replaced
    // in it (its port, root and password file).
    void start(const std::string& httpDirectives = "");

    std::uint16_t port() const { return listeningPort; }
    // "http://127.0.0.1:PORT"
    std::string url() const;
    std::string accessLog() const;

private:
    std::string configuration(const std::string& httpDirectives) const;

    boost::filesystem::path block;
    boost::filesystem::path site;
    boost::filesystem::path folder;
    std::uint16_t listeningPort = 0;
};

} // namespace Veltora::Testing
