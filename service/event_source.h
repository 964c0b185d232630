// The Application log's event source of the service, whose texts are the message table of the
// installed executable itself. Installation adds it and removal takes it away; a failure of
// either prints one line and leaves the outcome of the installation or removal as it was.
#pragma once

#include <string>

// `imagePath` as the service was registered with it: the executable's path in quotes.
void AddEventLogSource(const std::wstring& serviceName, const std::wstring& imagePath) noexcept;
void RemoveEventLogSource(const std::wstring& serviceName) noexcept;
