# The header-only libraries (nlohmann-json, CLI11) come from the build machine's packages, whose
# CMake files point at /usr/include. A cross compiler must not see the rest of that folder (its
# C library headers are the wrong ones), so each library's own header folder is linked into the
# build tree and the targets are defined here; the packages' config files then find them made.
set(EDB_CROSS_HEADERS ${CMAKE_BINARY_DIR}/cross-headers)
file(MAKE_DIRECTORY ${EDB_CROSS_HEADERS})
foreach(dir nlohmann CLI)
  if(EXISTS /usr/include/${dir} AND NOT EXISTS ${EDB_CROSS_HEADERS}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${EDB_CROSS_HEADERS}/${dir} SYMBOLIC)
  endif()
endforeach()
if(EXISTS ${EDB_CROSS_HEADERS}/nlohmann)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${EDB_CROSS_HEADERS})
endif()
if(EXISTS ${EDB_CROSS_HEADERS}/CLI)
  add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
  target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${EDB_CROSS_HEADERS})
endif()
