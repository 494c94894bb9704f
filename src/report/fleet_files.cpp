#include "report/fleet_files.h"

#include <cctype>
#include <cstdio>
#include <set>

namespace brisk::report {
namespace {

bool Unreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// Where the last path part of `path` begins.
size_t NameStart(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

// The file's name without its folder and its last extension, taken byte by
// byte: std::filesystem would read a narrow name in the ANSI code page on
// Windows, and the names must come out the same everywhere. A name that only
// starts with a dot has no extension.
std::string Stem(const std::string& path) {
    std::string name = path.substr(NameStart(path));
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        name.resize(dot);
    }
    return name;
}

}  // namespace

std::string RunsFolderFor(const std::string& fleetPage) {
    return fleetPage.substr(0, NameStart(fleetPage)) + Stem(fleetPage) + "-runs";
}

std::vector<std::string> RunPageNames(const std::vector<std::string>& logs) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const std::string& log : logs) {
        std::string base = Stem(log);
        for (char& c : base) {
            // Only ASCII letters and digits stay: the name must mean the same
            // file on every file system and in a link without escaping.
            if (!Unreserved(static_cast<unsigned char>(c)) || c == '~' ||
                static_cast<unsigned char>(c) >= 0x80) {
                c = '_';
            }
        }
        if (base.empty() || base.front() == '.') {
            base = "run" + base;
        }
        std::string name = base;
        for (int n = 2; taken.count(Lower(name)) != 0; ++n) {
            name = base + "-" + std::to_string(n);
        }
        taken.insert(Lower(name));
        names.push_back(name + ".html");
    }
    return names;
}

std::string PageHref(std::string_view folderName, std::string_view pageName) {
    std::string href;
    for (char c : folderName) {
        const auto b = static_cast<unsigned char>(c);
        if (Unreserved(b) && b < 0x80) {
            href += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            href += hex;
        }
    }
    return href + "/" + std::string(pageName);
}

bool IsLogFileName(std::string_view name) {
    return name.size() > 4 && Lower(std::string(name.substr(name.size() - 4))) == ".csv";
}

}  // namespace brisk::report
