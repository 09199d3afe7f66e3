#pragma once

// The categories of the updater's log messages: the names that UPDATER_LOG and
// CLog::setCategoryLevel turn on, and that every log line shows.
namespace LogCategory
{
constexpr const char* updateManager = "update_manager";
constexpr const char* install = "install";
constexpr const char* download = "download";
constexpr const char* web = "web";
constexpr const char* description = "description";
constexpr const char* timing = "timing";
constexpr const char* external = "external";
} // namespace LogCategory
