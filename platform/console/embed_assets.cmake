# Writes a C++ file holding the console's web assets as byte arrays.
# Usage: cmake -DOUT=<file.cpp> -DASSETS="<dir>/index.html;..." -P embed_assets.cmake
set(body "")
set(table "")
set(n 0)
foreach(asset IN LISTS ASSETS)
    get_filename_component(name ${asset} NAME)
    if(name MATCHES "\\.html$")
        set(type "text/html; charset=utf-8")
    elseif(name MATCHES "\\.css$")
        set(type "text/css; charset=utf-8")
    elseif(name MATCHES "\\.js$")
        set(type "text/javascript; charset=utf-8")
    elseif(name MATCHES "\\.svg$")
        set(type "image/svg+xml")
    else()
        set(type "application/octet-stream")
    endif()
    file(READ ${asset} hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND body "const unsigned char kAsset${n}[] = {\n${bytes}0x00};\n")
    string(APPEND table "    {\"/${name}\", \"${type}\", kAsset${n}, sizeof kAsset${n} - 1},\n")
    math(EXPR n "${n} + 1")
endforeach()
file(WRITE ${OUT}.tmp "// Generated from platform/console/web by embed_assets.cmake.
#include \"platform/console/console_internal.h\"

namespace {
${body}
const ConsoleAsset kAssets[] = {
${table}};
} // namespace

const ConsoleAsset* findConsoleAsset(const std::string& path) {
    const std::string wanted = path == \"/\" ? std::string(\"/index.html\") : path;
    for (const auto& asset : kAssets)
        if (wanted == asset.path)
            return &asset;
    return nullptr;
}
")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
