#include "platform/host_name.h"

#ifdef _WIN32
#include <windows.h>

#include "base/utf8.h"
#else
#include <unistd.h>

#include <climits>
#endif

namespace brisk {

std::string HostName() {
#ifdef _WIN32
    // Wide, so that a name outside the ANSI code page survives.
    wchar_t name[256];
    DWORD size = sizeof name / sizeof name[0];
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) {
        return std::string();
    }
    return Utf8FromWide(std::wstring_view(name, size));
#else
    char name[256] = {};
    // A name that fills the buffer may come back without its terminator.
    if (gethostname(name, sizeof name - 1) != 0) {
        return std::string();
    }
    return std::string(name);
#endif
}

}  // namespace brisk
