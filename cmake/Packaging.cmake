# The Debian package (`make package`): the program under /usr/lib/ambrelclient, a launcher that gives it a working
# folder of the user's own, the desktop entry that makes it the handler of ambrel:// links, the icon in the
# hicolor theme, and the system-wide settings file /etc/xdg/AmbrelClient/AmbrelClient.conf. Runtime dependencies are read from the binary by dpkg-shlibdeps; Qt plugins it loads at run time
# are not linked and are named here.
set(AMBREL_PACKAGE_NAME ambrelclient)
set(packaging ${PROJECT_SOURCE_DIR}/packaging/linux)

install(TARGETS AmbrelClient RUNTIME DESTINATION lib/${AMBREL_PACKAGE_NAME})
install(PROGRAMS ${packaging}/ambrelclient DESTINATION bin)
install(FILES ${packaging}/ambrelclient.desktop DESTINATION share/applications)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${packaging}/icons/${size}/ambrelclient.png DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${packaging}/copyright ${packaging}/README.Debian DESTINATION share/doc/${AMBREL_PACKAGE_NAME})

# The settings a school sets once for every user: installed commented out, showing the build's defaults, and kept
# by dpkg as the administrator edited it (a conffile).
if(AMBREL_LOG_FILE)
    set(AMBREL_CONF_LOG_FILE ${AMBREL_LOG_FILE})
else()
    set(AMBREL_CONF_LOG_FILE "~/.local/share/AmbrelClient/log.txt")
endif()
configure_file(${packaging}/AmbrelClient.conf.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/AmbrelClient.conf @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/AmbrelClient.conf DESTINATION /etc/xdg/AmbrelClient)

# Debian wants the changelog and the manual page compressed, without a time stamp in the gzip header.
set(compressed)
foreach(file changelog ambrelclient.1)
    set(gz ${CMAKE_CURRENT_BINARY_DIR}/packaging/${file}.gz)
    add_custom_command(OUTPUT ${gz}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
        COMMAND gzip -9nc ${packaging}/${file} > ${gz}
        DEPENDS ${packaging}/${file} VERBATIM)
    list(APPEND compressed ${gz})
endforeach()
add_custom_target(ambrel_package_docs ALL DEPENDS ${compressed})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz DESTINATION share/doc/${AMBREL_PACKAGE_NAME})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/ambrelclient.1.gz DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${AMBREL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "AmbrelClient developers <dev@ambrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hands marked exam answer sheets to a grading service")
set(CPACK_PACKAGE_DESCRIPTION
    "With AmbrelClient a teacher hands the marked answer sheets of an exam task
to the grading service as images: photographed with a document camera or
imported from files and uploaded in the background. It shows the service's
results per student, the sheets to photograph again and a zoomable viewer.
The grading website starts it through ambrel:// links.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# xdg-utils: the browser hands ambrel:// links over through xdg-open, and "打开文件夹" in the queue window opens the
# folder through it (Qt's desktop services call xdg-open outside GNOME and KDE).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5sql5-sqlite, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei, qttranslations5-l10n, qt5-image-formats-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging}/conffiles)
include(CPack)
