# brisk_nlohmann_json: nlohmann/json (header only), for every layer that reads
# or writes JSON (the factory configuration in src/identity, the summary in
# src/log). Declared here, before any layer, so that no layer depends on a
# higher one's declaration; the fuzz project includes it too.
#
# Natively Debian's nlohmann-json3-dev through its CMake package. The Windows
# build may not search /usr/include as a whole (Linux headers would shadow
# MinGW's), so a folder of the build tree holds a link to just the nlohmann/
# folder.
if(TARGET brisk_nlohmann_json)
    return()
endif()
add_library(brisk_nlohmann_json INTERFACE)
if(WIN32)
    set(BRISK_NLOHMANN_DIR /usr/include/nlohmann
        CACHE PATH "Folder with nlohmann/json's json.hpp, for the Windows build")
    if(NOT EXISTS ${BRISK_NLOHMANN_DIR}/json.hpp)
        message(FATAL_ERROR "no json.hpp in ${BRISK_NLOHMANN_DIR}: run scripts/deps")
    endif()
    set(brisk_nlohmann_include ${CMAKE_BINARY_DIR}/third_party/include)
    file(MAKE_DIRECTORY ${brisk_nlohmann_include})
    file(CREATE_LINK ${BRISK_NLOHMANN_DIR} ${brisk_nlohmann_include}/nlohmann SYMBOLIC
         COPY_ON_ERROR)
    target_include_directories(brisk_nlohmann_json SYSTEM INTERFACE ${brisk_nlohmann_include})
else()
    find_package(nlohmann_json 3.10 REQUIRED)
    target_link_libraries(brisk_nlohmann_json INTERFACE nlohmann_json::nlohmann_json)
endif()
