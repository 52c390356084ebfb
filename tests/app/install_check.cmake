# Installs the build into a scratch prefix and checks that the desktop integration is there:
# the programs, the menu entry opening .edb files, the MIME type, the icon and the help pages.
#   cmake -DBUILD=<build dir> -DPREFIX=<scratch> -P install_check.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
foreach(f bin/exchange-to-eml bin/edb2eml share/applications/exchange-to-eml.desktop
          share/mime/packages/exchange-to-eml.xml
          share/icons/hicolor/48x48/apps/exchange-to-eml.png)
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(GLOB_RECURSE help ${PREFIX}/share/doc/*/QlrEmlExchange.html)
file(READ ${PREFIX}/share/applications/exchange-to-eml.desktop entry)
file(READ ${PREFIX}/share/mime/packages/exchange-to-eml.xml mime)
string(REGEX MATCH "MimeType=([^;\n]+)" _ "${entry}")
set(type ${CMAKE_MATCH_1})
if(NOT help OR NOT entry MATCHES "Exec=exchange-to-eml %f" OR NOT entry MATCHES "Icon=exchange-to-eml"
   OR NOT mime MATCHES "type=\"${type}\"" OR NOT mime MATCHES "pattern=\"\\*\\.edb\"")
  message(FATAL_ERROR "desktop entry, MIME type or help pages do not fit together")
endif()
file(REMOVE_RECURSE ${PREFIX})
