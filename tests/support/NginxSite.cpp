#include "tests/support/NginxSite.h"

#include "tests/support/FileContent.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/WaitUntil.h"

#include <Poco/Exception.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <sstream>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace Veltora::Testing
{
namespace
{
// Replaces `placeholder` in the documented block; a block that no longer holds it would
// run with something else than the test means.
void substitute(std::string& text, const std::string& placeholder, const std::string& value)
{
    if (text.find(placeholder) == std::string::npos)
        throw std::runtime_error("the documented nginx block no longer holds '" + placeholder +
                                 "'");
    boost::algorithm::replace_all(text, placeholder, value);
}

std::uint16_t freeLoopbackPort()
{
    Poco::Net::ServerSocket probe(Poco::Net::SocketAddress("127.0.0.1", 0));
    const std::uint16_t port = probe.address().port();
    probe.close();
    return port;
}

bool accepts(std::uint16_t port)
{
    try
    {
        Poco::Net::StreamSocket socket;
        socket.connect(Poco::Net::SocketAddress("127.0.0.1", port), Poco::Timespan(1, 0));
        return true;
    }
    catch (const Poco::Exception&)
    {
        return false;
    }
}
} // namespace

NginxSite::NginxSite(fs::path documentedBlock, fs::path servedSite, fs::path workFolder)
    : block(std::move(documentedBlock)), site(std::move(servedSite)), folder(std::move(workFolder))
{
    fs::create_directories(folder / "temp");
    const ProgramRun passwords =
        runProgram("openssl", {"passwd", "-apr1", "-salt", "veltora", password});
    if (passwords.status != 0)
        throw std::runtime_error("openssl passwd failed: " + passwords.standardError);
    writeFile(folder / "htpasswd", std::string(user) + ":" + passwords.standardOutput);
}

NginxSite::~NginxSite()
{
    if (!fs::exists(folder / "nginx.pid"))
        return;
    runProgram("nginx", {"-c", (folder / "nginx.conf").string(), "-s", "stop"});
    waitUntil([this] { return !fs::exists(folder / "nginx.pid"); });
}

void NginxSite::start(const std::string& httpDirectives)
{
    listeningPort = freeLoopbackPort();
    writeFile(folder / "nginx.conf", configuration(httpDirectives));
    const ProgramRun started = runProgram(
        "nginx", {"-e", (folder / "error.log").string(), "-c", (folder / "nginx.conf").string()});
    if (started.status != 0)
        throw std::runtime_error("nginx did not start: " + started.standardError +
                                 readFile(folder / "error.log"));
    if (!waitUntil([this] { return accepts(listeningPort); }, std::chrono::seconds(20)))
        throw std::runtime_error("nginx does not accept connections: " +
                                 readFile(folder / "error.log"));
}

std::string NginxSite::url() const
{
    return "http://127.0.0.1:" + std::to_string(listeningPort);
}

std::string NginxSite::accessLog() const
{
    return readFile(folder / "access.log");
}

// The documented block inside the smallest configuration that runs it without root.
std::string NginxSite::configuration(const std::string& httpDirectives) const
{
    std::string server = readFile(block);
    substitute(server, "listen 80;", "listen 127.0.0.1:" + std::to_string(listeningPort) + ";");
    substitute(server, "/srv/veltora-releases", site.string());
    substitute(server, "/etc/nginx/veltora-releases.htpasswd", (folder / "htpasswd").string());
    const std::string temporary = (folder / "temp").string();
    std::ostringstream text;
    text << "pid " << (folder / "nginx.pid").string() << ";\n"
         << "error_log " << (folder / "error.log").string() << ";\n"
         << "events { worker_connections 64; }\n"
         << "http {\n"
         << "    log_format requests '$request_method $uri $status';\n"
         << "    access_log " << (folder / "access.log").string() << " requests;\n"
         << "    include /etc/nginx/mime.types;\n"
         << "    default_type application/octet-stream;\n"
         << "    client_body_temp_path " << temporary << "/body;\n"
         << "    proxy_temp_path " << temporary << "/proxy;\n"
         << "    fastcgi_temp_path " << temporary << "/fastcgi;\n"
         << "    uwsgi_temp_path " << temporary << "/uwsgi;\n"
         << "    scgi_temp_path " << temporary << "/scgi;\n"
         << httpDirectives << "\n"
         << server << "}\n";
    return text.str();
}

} // namespace Veltora::Testing
