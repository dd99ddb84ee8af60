# The layers' libraries and the include views that hold them to their arrows.
#
# A view is a directory in the build tree with links to some source folders at their own paths
# (view/server/base -> server/base). A library compiles against its own view and, through
# target_link_libraries, the views of what it links, and never against the source root: an
# include of a folder it may not use is "file not found".

# ov_include_view(NAME FOLDERS...): makes the view and sets `view` in the caller's scope.
function(ov_include_view name)
    set(dir ${CMAKE_BINARY_DIR}/include-views/${name})
    set(wanted "")
    foreach(folder ${ARGN})
        set(link ${dir}/${folder})
        list(APPEND wanted ${link})
        if(NOT IS_SYMLINK ${link})
            get_filename_component(parent ${link} DIRECTORY)
            file(MAKE_DIRECTORY ${parent})
            file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
        endif()
    endforeach()
    # A folder taken out of the layer must not stay visible in an old build directory.
    file(GLOB_RECURSE present LIST_DIRECTORIES true ${dir}/*)
    foreach(entry ${present})
        if(IS_SYMLINK ${entry} AND NOT entry IN_LIST wanted)
            file(REMOVE ${entry}) # removes the link only
        endif()
    endforeach()
    set(view ${dir} PARENT_SCOPE)
endfunction()

# ov_layer(NAME FOLDERS folder... [LINKS target...]): a static library for one layer; each of
# its folders adds its sources with target_sources(NAME ...). LINKS are its arrows.
function(ov_layer name)
    cmake_parse_arguments(L "" "" "FOLDERS;LINKS" ${ARGN})
    add_library(${name} STATIC)
    ov_include_view(${name} ${L_FOLDERS})
    target_include_directories(${name} PUBLIC ${view})
    target_link_libraries(${name} PUBLIC ${L_LINKS})
endfunction()
