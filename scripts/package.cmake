# The Debian package: `cmake --build build --target package` (make package) writes
# build/hayatemail_<version>_<arch>.deb. Its dependencies are the run list of install-deps.
file(STRINGS ${CMAKE_SOURCE_DIR}/scripts/packages/run hm_run_lines)
set(hm_depends)
foreach(line IN LISTS hm_run_lines)
  string(REGEX REPLACE "#.*" "" line "${line}")
  string(STRIP "${line}" line)
  if(line)
    list(APPEND hm_depends ${line})
  endif()
endforeach()
list(JOIN hm_depends ", " hm_depends)

# Debian wants the changelog and the manual page compressed, reproducibly.
set(hm_doc_dir ${CMAKE_BINARY_DIR}/generated-doc)
find_program(HM_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${hm_doc_dir}/changelog.gz ${hm_doc_dir}/hayatemail.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${hm_doc_dir}
  COMMAND sh -c "${HM_GZIP} -9n < '${CMAKE_SOURCE_DIR}/data/doc/changelog' > '${hm_doc_dir}/changelog.gz'"
  COMMAND sh -c "${HM_GZIP} -9n < '${CMAKE_SOURCE_DIR}/data/doc/hayatemail.1' > '${hm_doc_dir}/hayatemail.1.gz'"
  DEPENDS ${CMAKE_SOURCE_DIR}/data/doc/changelog ${CMAKE_SOURCE_DIR}/data/doc/hayatemail.1
  VERBATIM)
add_custom_target(package_docs ALL DEPENDS ${hm_doc_dir}/changelog.gz ${hm_doc_dir}/hayatemail.1.gz)
install(FILES ${CMAKE_SOURCE_DIR}/data/doc/copyright ${hm_doc_dir}/changelog.gz
        DESTINATION share/doc/hayatemail)
install(FILES ${hm_doc_dir}/hayatemail.1.gz DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hayatemail)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_VENDOR "HayateMail developers")
set(CPACK_PACKAGE_CONTACT "HayateMail developers <developers@hayatemail.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "light POP3/SMTP mail client with a Japanese user interface")
# CPack puts the summary first and indents these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "HayateMail serves one mail account: it receives mail from one POP3
mailbox (plain or APOP login, TLS when the server offers it), sends mail
over SMTP, keeps every received and sent message in local store files,
and offers a history window, an address book and a compose window with
greetings, fortunes and bulk sending.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${hm_depends}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
