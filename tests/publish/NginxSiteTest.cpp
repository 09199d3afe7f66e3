#include "UpdateManager/web/ResourceList.h"

#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/StreamCopier.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>

#include <optional>
#include <sstream>

using namespace Veltora::Testing;
namespace fs = boost::filesystem;

namespace
{
const std::string tool = UPDATER_PUBLISH;
const fs::path documentedSite = DOCUMENTED_NGINX_SITE;

std::string contentOf(const fs::path& file)
{
    fs::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const fs::path& file, const std::string& content)
{
    fs::ofstream out(file, std::ios::binary);
    out << content;
}

// Replaces the one occurrence of `placeholder` in the documented block; a block that no
// longer holds it fails the test instead of testing something else.
void substitute(std::string& text, const std::string& placeholder, const std::string& value)
{
    ASSERT_NE(text.find(placeholder), std::string::npos) << placeholder;
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

struct Reply
{
    int status = 0;
    std::string contentType;
    std::string contentRange;
    std::string body;
};

// The real nginx of the system, serving the documented server block on a loopback port,
// started in the background by nginx itself and stopped at the end of the test.
class NginxSite : public testing::Test
{
protected:
    NginxSite()
    {
        fs::create_directories(site);
        writeFile(installer, std::string(100000, 'i') + "end");
        const ProgramRun passwords =
            runProgram("openssl", {"passwd", "-apr1", "-salt", "veltora", "secret"});
        writeFile(folder / "htpasswd", "updater:" + passwords.standardOutput);
    }

    ~NginxSite() override
    {
        if (fs::exists(folder / "nginx.pid"))
        {
            runProgram("nginx", {"-c", (folder / "nginx.conf").string(), "-s", "stop"});
            waitUntil([this] { return !fs::exists(folder / "nginx.pid"); });
        }
    }

    // Writes a configuration that holds the documented block and starts nginx with it.
    void startNginx()
    {
        std::string block = contentOf(documentedSite);
        port = freeLoopbackPort();
        substitute(block, "listen 80;", "listen 127.0.0.1:" + std::to_string(port) + ";");
        substitute(block, "/srv/veltora-releases", site.string());
        substitute(block, "/etc/nginx/veltora-releases.htpasswd", (folder / "htpasswd").string());
        const std::string temporary = (folder / "temp").string();
        fs::create_directories(folder / "temp");
        writeFile(folder / "nginx.conf",
                  "pid " + (folder / "nginx.pid").string() + ";\n" + "error_log " +
                      (folder / "error.log").string() + ";\n" +
                      "events { worker_connections 64; }\n"
                      "http {\n"
                      "    access_log off;\n"
                      "    include /etc/nginx/mime.types;\n"
                      "    default_type application/octet-stream;\n"
                      "    client_body_temp_path " +
                      temporary + "/body;\n" + "    proxy_temp_path " + temporary + "/proxy;\n" +
                      "    fastcgi_temp_path " + temporary + "/fastcgi;\n" +
                      "    uwsgi_temp_path " + temporary + "/uwsgi;\n" + "    scgi_temp_path " +
                      temporary + "/scgi;\n" + block + "}\n");
        const ProgramRun started = runProgram("nginx", {"-e", (folder / "error.log").string(), "-c",
                                                        (folder / "nginx.conf").string()});
        ASSERT_EQ(started.status, 0) << started.standardError << contentOf(folder / "error.log");
        ASSERT_TRUE(waitUntil([this] { return accepts(port); }, std::chrono::seconds(20)));
    }

    Reply get(const std::string& path, const std::optional<std::string>& range = std::nullopt,
              bool withPassword = false) const
    {
        Poco::Net::HTTPClientSession session("127.0.0.1", port);
        session.setTimeout(Poco::Timespan(20, 0));
        Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path,
                                       Poco::Net::HTTPMessage::HTTP_1_1);
        if (range)
            request.set("Range", *range);
        if (withPassword)
            Poco::Net::HTTPBasicCredentials("updater", "secret").authenticate(request);
        session.sendRequest(request);
        Poco::Net::HTTPResponse response;
        std::istream& body = session.receiveResponse(response);
        Reply reply;
        reply.status = response.getStatus();
        reply.contentType = response.getContentType();
        reply.contentRange = response.get("Content-Range", "");
        Poco::StreamCopier::copyToString(body, reply.body);
        return reply;
    }

    void publish()
    {
        const ProgramRun run =
            runProgram(tool, {"--sku", "ABC", "--platform", "linux", "--version", "2.0.0", "--name",
                              "Synth", "--base-url", "http://127.0.0.1:" + std::to_string(port),
                              "--out", site.string(), installer.string()});
        ASSERT_EQ(run.status, 0) << run.standardError;
    }

    TempFolder folder;
    fs::path site = folder / "site";
    fs::path installer = folder / "Setup.exe";
    std::uint16_t port = 0;
};
} // namespace

TEST_F(NginxSite, ServesLatestAsJsonToTheUpdatersPasswordOnly)
{
    ASSERT_NO_FATAL_FAILURE(startNginx());
    ASSERT_NO_FATAL_FAILURE(publish());
    const std::string path = "/api/resources/soft/ABC/linux/latest";

    EXPECT_EQ(get(path).status, 401);
    const Reply reply = get(path, std::nullopt, true);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.contentType, "application/json");
    EXPECT_EQ(reply.body, contentOf(site / "api/resources/soft/ABC/linux/latest"));
    std::istringstream json(reply.body);
    boost::property_tree::ptree answer;
    boost::property_tree::read_json(json, answer);
    EXPECT_TRUE(Veltora::UpdateManager::ResourceList(answer).isValid());
}

TEST_F(NginxSite, ServesInstallersWithByteRanges)
{
    ASSERT_NO_FATAL_FAILURE(startNginx());
    ASSERT_NO_FATAL_FAILURE(publish());
    const std::string path = "/files/ABC/2.0.0/Setup.exe";

    const Reply whole = get(path);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, contentOf(installer));

    const Reply rest = get(path, std::string("bytes=99990-"));
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(rest.contentRange, "bytes 99990-100002/100003");
    EXPECT_EQ(rest.body, contentOf(installer).substr(99990));
}

TEST_F(NginxSite, HidesFilesThatAreStillBeingWritten)
{
    ASSERT_NO_FATAL_FAILURE(startNginx());
    ASSERT_NO_FATAL_FAILURE(publish());
    writeFile(site / "files/ABC/2.0.0/.Setup.exe.partial-12345678", "partial");
    writeFile(site / "api/resources/soft/ABC/linux/.latest.partial-12345678", "{");
    EXPECT_EQ(get("/files/ABC/2.0.0/.Setup.exe.partial-12345678").status, 404);
    EXPECT_EQ(
        get("/api/resources/soft/ABC/linux/.latest.partial-12345678", std::nullopt, true).status,
        404);
}
