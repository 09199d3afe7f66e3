#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace Veltora::Testing
{

// What a server sent to a plain GET request.
struct PlainHttpAnswer
{
    int status = 0;
    std::string contentType;
    std::string contentRange;
    // What came until the server ended the body, also when it ended it early.
    std::string body;
};

// A GET to http://127.0.0.1:port<path> by POCO's HTTP client, not the updater's
// WebRequest, to see what a server itself sends. `range` non-empty: its "Range" field;
// `credentials` (user, password): basic authentication. Waits at most 20 seconds for each
// read; throws when the server cannot be reached or sends no answer.
PlainHttpAnswer
plainHttpGet(std::uint16_t port, const std::string& path, const std::string& range = "",
             const std::optional<std::pair<std::string, std::string>>& credentials = std::nullopt);

} // namespace Veltora::Testing
