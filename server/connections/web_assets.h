// The caller page's files, built into the program (generated from web/caller/ and the
// packages it names by web/caller/CMakeLists.txt).
#pragma once

#include <cstddef>
#include <string_view>

struct WebAsset {
    const char* path; // "/caller.js"; the page itself is "/"
    const char* type; // Content-Type
    const char* etag; // quoted, from the content
    const unsigned char* data;
    size_t size;
};

const WebAsset* findWebAsset(std::string_view path);
