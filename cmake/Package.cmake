# `make package`: Debian packages tolvane-text (programs, man pages, shared library) and
# tolvane-text-dev (headers, static library, pkg-config and CMake files), with Depends computed
# from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane-text)
set(CPACK_PACKAGE_VENDOR "Tolvane")
set(CPACK_PACKAGE_CONTACT "Tolvane developers <developers@tolvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extract the text of PDF files")
set(CPACK_PACKAGE_DESCRIPTION
  "Tolvane Text Extractor turns PDF files into plain text: in content order, in\n\
rows rearranged from the positions of the text, or as positioned text records.\n\
It reads encrypted files with their password and stays within bounds on damaged\n\
or hostile files. This package holds the command-line program tolvane-text and\n\
the korvel library it is built on.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME tolvane-text)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION text)
# The Adobe CMap files the reading layout reads CJK text through.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "poppler-data")
if(TOLVANE_PYTHON_VERSION_MINOR)
  # The Python module is built for one minor version of the interpreter.
  set(major ${TOLVANE_PYTHON_VERSION_MAJOR})
  set(minor ${TOLVANE_PYTHON_VERSION_MINOR})
  math(EXPR next "${minor} + 1")
  string(APPEND CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
    ", python3 (>= ${major}.${minor}~), python3 (<< ${major}.${next})")
endif()
set(CPACK_DEBIAN_DEV_PACKAGE_NAME tolvane-text-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "tolvane-text (= ${PROJECT_VERSION}), zlib1g-dev, libssl-dev, libfontconfig-dev, libfribidi-dev, libidn-dev")
# The synopsis is the summary above; these are the long descriptions.
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_DEV_DESCRIPTION "Development files:\n\
headers, static library, pkg-config and CMake package files of korvel, the PDF\n\
text extraction library of Tolvane Text Extractor.")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
include(CPack)
