# The Windows tree: what the programs need beside them (the compiler's and
# Qt's libraries, Qt's plugins, the Ghostscript of ps\), in the build's
# application folder and in the installer that `cpack -G NSIS` makes.
set(PELLUCOR_WINDOWS_GHOSTSCRIPT "" CACHE FILEPATH "The Windows console Ghostscript (gs.exe) that ships in ps\\")
if(NOT EXISTS "${PELLUCOR_WINDOWS_GHOSTSCRIPT}")
    message(FATAL_ERROR "PELLUCOR_WINDOWS_GHOSTSCRIPT names no Ghostscript: build it with tools/windows/toolchain.sh")
endif()

# The compiler's run-time libraries, where the compiler finds them.
set(pellucor_runtime)
foreach(library libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} knows no ${library}")
    endif()
    list(APPEND pellucor_runtime "${path}")
endforeach()

# Qt's libraries and the plugins the window uses, by the folder Qt looks in.
set(pellucor_qt_libraries $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>)
set(pellucor_plugins
    platforms Qt6::QWindowsIntegrationPlugin
    styles Qt6::QWindowsVistaStylePlugin
    imageformats Qt6::QJpegPlugin
    imageformats Qt6::QICOPlugin
    imageformats Qt6::QGifPlugin)

set(copies
    COMMAND ${CMAKE_COMMAND} -E make_directory "${PELLUCOR_APP_DIR}/ps"
    # The job script calls gswin32c: the 64-bit console Ghostscript goes by that name.
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "${PELLUCOR_WINDOWS_GHOSTSCRIPT}" "${PELLUCOR_APP_DIR}/ps/gswin32c.exe"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${pellucor_runtime} ${pellucor_qt_libraries} "${PELLUCOR_APP_DIR}")
install(FILES "${PELLUCOR_WINDOWS_GHOSTSCRIPT}" DESTINATION ps RENAME gswin32c.exe)
install(FILES ${pellucor_runtime} ${pellucor_qt_libraries} DESTINATION .)
while(pellucor_plugins)
    list(POP_FRONT pellucor_plugins folder plugin)
    list(APPEND copies
        COMMAND ${CMAKE_COMMAND} -E make_directory "${PELLUCOR_APP_DIR}/${folder}"
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${plugin}> "${PELLUCOR_APP_DIR}/${folder}")
    install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${folder})
endwhile()
add_custom_target(pellucor_windows_runtime ALL ${copies} COMMENT "Copying the run-time libraries and Ghostscript")
add_dependencies(pellucor_windows_runtime pellucor_assets)
add_dependencies(pellucor pellucor_windows_runtime)
add_dependencies(pellucor-batch pellucor_windows_runtime)

# The installer: Start menu entry, uninstaller, and "Open with" for EPS files.
set(CPACK_GENERATOR NSIS)
# The NSIS commands below hold quotes and backslashes, written as they stand.
set(CPACK_VERBATIM_VARIABLES ON)
# A 64-bit installer, as the program is: it runs where the program runs,
# without 32-bit Windows (or Wine) beside it, and writes the 64-bit registry.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_PACKAGE_FILE_NAME "Pellucor-${PROJECT_VERSION}-win64")
set(PELLUCOR_WINDOWS_INSTALLER "${CMAKE_BINARY_DIR}/${CPACK_PACKAGE_FILE_NAME}.exe") # CPack reuses its variable
set(CPACK_PACKAGE_INSTALL_DIRECTORY Pellucor)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME Pellucor)
set(CPACK_NSIS_PACKAGE_NAME Pellucor)
set(CPACK_PACKAGE_EXECUTABLES pellucor Pellucor)
set(CPACK_NSIS_INSTALLED_ICON_NAME pellucor.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [[
  WriteRegStr HKLM "Software\Classes\Applications\pellucor.exe\shell\open\command" "" '"$INSTDIR\pellucor.exe" "%1"'
  WriteRegStr HKLM "Software\Classes\Applications\pellucor.exe\SupportedTypes" ".eps" ""
  WriteRegStr HKLM "Software\Classes\.eps\OpenWithList\pellucor.exe" "" ""
]])
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [[
  DeleteRegKey HKLM "Software\Classes\Applications\pellucor.exe"
  DeleteRegKey HKLM "Software\Classes\.eps\OpenWithList\pellucor.exe"
]])
