# Writes a C++ file holding the caller page's files as byte arrays, and the licences of what it
# bundles as one text file. Usage:
#   cmake -DOUT=<file.cpp> "-DASSETS=<path>=<file>;..." "-DLICENSES=<file>;..." -P embed_page.cmake
set(body "")
set(table "")
set(n 0)

set(licences "The caller page bundles the following software; their licences follow.\n")
foreach(file IN LISTS LICENSES)
    file(READ ${file} text)
    string(APPEND licences "\n==== ${file}\n\n${text}")
endforeach()
file(WRITE ${OUT}.licenses.txt "${licences}")
list(APPEND ASSETS "/licenses.txt=${OUT}.licenses.txt")

foreach(entry IN LISTS ASSETS)
    string(FIND "${entry}" "=" eq)
    string(SUBSTRING "${entry}" 0 ${eq} name)
    math(EXPR from "${eq} + 1")
    string(SUBSTRING "${entry}" ${from} -1 asset)
    if(name MATCHES "\\.html$" OR name STREQUAL "/")
        set(type "text/html; charset=utf-8")
    elseif(name MATCHES "\\.css$")
        set(type "text/css; charset=utf-8")
    elseif(name MATCHES "\\.js$")
        set(type "text/javascript; charset=utf-8")
    elseif(name MATCHES "\\.txt$")
        set(type "text/plain; charset=utf-8")
    elseif(name MATCHES "\\.ttf$")
        set(type "font/ttf")
    else()
        set(type "application/octet-stream")
    endif()
    # Browsers keep the big files (xterm.js, the font) and ask again with this tag.
    file(SHA1 ${asset} sum)
    string(SUBSTRING "${sum}" 0 16 etag)
    file(READ ${asset} hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND body "const unsigned char kPage${n}[] = {\n${bytes}0x00};\n")
    string(APPEND table "    {\"${name}\", \"${type}\", \"\\\"${etag}\\\"\", kPage${n}, sizeof kPage${n} - 1},\n")
    math(EXPR n "${n} + 1")
endforeach()
file(WRITE ${OUT}.tmp "// Generated from web/caller by embed_page.cmake.
#include \"server/connections/web_assets.h\"

namespace {
${body}
const WebAsset kPages[] = {
${table}};
} // namespace

const WebAsset* findWebAsset(std::string_view path) {
    for (const auto& asset : kPages)
        if (path == asset.path)
            return &asset;
    return nullptr;
}
")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
