# Debian packages by CPack (`make package`):
#   kx-appserver  the application server, its schema scripts, the systemd unit, the configuration
#   kx-client     the host client with the screen package and the Qt front end, in a private
#                 folder (/usr/lib/kx-client) with /usr/bin/hostapp pointing to it, and the
#                 bulk parameters command kx-params beside it
# Dependencies on Debian's libraries are computed by dpkg-shlibdeps from the binaries.
install(TARGETS appserver RUNTIME DESTINATION bin COMPONENT appserver)
install(FILES ${KX_SCHEMA_SQL} DESTINATION share/kx-appserver/schema COMPONENT appserver)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/kx-appserver.service DESTINATION lib/systemd/system
        COMPONENT appserver)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/appserver.conf DESTINATION /etc/kx COMPONENT appserver)
install(FILES ${PROJECT_SOURCE_DIR}/docs/operations.md DESTINATION share/doc/kx-appserver
        COMPONENT appserver)

# Debian's documents of each package: the copyright and the changelog, compressed as Debian
# wants it (gzip -9, no name or time stamp inside). The changelog's latest entry must name the
# version being packaged.
set(KX_DEB_RELEASE 1)
set(KX_DEB_VERSION ${PROJECT_VERSION}-${KX_DEB_RELEASE})
file(STRINGS ${PROJECT_SOURCE_DIR}/deploy/debian/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^[a-z0-9.+-]+ \\(${KX_DEB_VERSION}\\) ")
    message(FATAL_ERROR "deploy/debian/changelog: a primeira entrada deve ser da versão "
                        "${KX_DEB_VERSION}: ${changelog_head}")
endif()
set(KX_DEB_DOC ${CMAKE_BINARY_DIR}/deb-doc)
file(MAKE_DIRECTORY ${KX_DEB_DOC})
execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/deploy/debian/changelog
                OUTPUT_FILE ${KX_DEB_DOC}/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/deploy/debian/changelog)
foreach(component appserver client)
    install(FILES ${PROJECT_SOURCE_DIR}/deploy/debian/copyright ${KX_DEB_DOC}/changelog.Debian.gz
            DESTINATION share/doc/kx-${component} COMPONENT ${component})
endforeach()

# hostapp finds its package and front end in ../lib beside its own folder.
set(KX_CLIENT_DIR lib/kx-client)
set(client_libraries brx PKG_KXF27400 brxqt hostqt)
set_target_properties(${client_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(hostapp kx-params PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
install(TARGETS hostapp kx-params RUNTIME DESTINATION ${KX_CLIENT_DIR}/bin COMPONENT client)
install(TARGETS ${client_libraries} LIBRARY DESTINATION ${KX_CLIENT_DIR}/lib COMPONENT client)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package-links)
file(CREATE_LINK ../${KX_CLIENT_DIR}/bin/hostapp ${CMAKE_BINARY_DIR}/package-links/hostapp SYMBOLIC)
file(CREATE_LINK ../${KX_CLIENT_DIR}/bin/kx-params ${CMAKE_BINARY_DIR}/package-links/kx-params
     SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/package-links/hostapp ${CMAKE_BINARY_DIR}/package-links/kx-params
        DESTINATION bin COMPONENT client)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Whoever answers for the packages; a build for another team names its own address.
set(KX_PACKAGE_MAINTAINER "Equipe KX <pacotes@kx.example.com>"
    CACHE STRING "Maintainer of the Debian packages (name <address>)")
set(CPACK_PACKAGE_CONTACT "${KX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL appserver client)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KX_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

set(CPACK_DEBIAN_APPSERVER_PACKAGE_NAME kx-appserver)
set(CPACK_COMPONENT_APPSERVER_DESCRIPTION "KX - servidor de aplicação dos parâmetros por fornecedor
Atende as telas do cliente KX por JSON-RPC sobre HTTP, com banco SQLite
ou PostgreSQL; inclui o serviço systemd kx-appserver, a configuração
/etc/kx/appserver.conf e os scripts do esquema do banco de dados.")
# The maintainer scripts call useradd and groupadd (passwd, which is not Essential) besides the
# Essential dpkg and init-system-helpers.
set(CPACK_DEBIAN_APPSERVER_PACKAGE_DEPENDS "passwd")
set(CPACK_DEBIAN_APPSERVER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/deploy/debian/postinst ${PROJECT_SOURCE_DIR}/deploy/debian/prerm
    ${PROJECT_SOURCE_DIR}/deploy/debian/postrm ${PROJECT_SOURCE_DIR}/deploy/debian/conffiles)
set(CPACK_DEBIAN_APPSERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME kx-client)
set(CPACK_COMPONENT_CLIENT_DESCRIPTION "KX - cliente com a tela Parâmetros por Fornecedor
O cliente hostapp (janela principal, carregador de pacotes, roteiros),
o pacote da tela KXF27400 e a interface Qt 6.")
# Loaded at run time, so invisible to dpkg-shlibdeps: Qt's platform plugins and the font the
# widgetset draws with.
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core")

include(CPack)
