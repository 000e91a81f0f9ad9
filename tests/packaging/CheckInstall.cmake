# Installs the build into a staging folder (DESTDIR) and checks that the desktop integration is there:
# both programs, the import module, the launcher, the file type, the icon and the udev rule pointing at the probe.
# Called as: cmake -DBUILD=<build dir> -DSTAGE=<empty folder> -P CheckInstall.cmake
file(REMOVE_RECURSE "${STAGE}")
set(ENV{DESTDIR} "${STAGE}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()

include("${BUILD}/packaging/InstallPaths.cmake")
foreach(f "${BINDIR}/ambrio" "${BINDIR}/qxtool" "${DATADIR}/applications/ambrio.desktop"
          "${DATADIR}/mime/packages/ambrio.xml" "${DATADIR}/icons/hicolor/scalable/apps/ambrio.svg"
          "${UDEVDIR}/70-ambrio-analyzer.rules" "${LIBDIR}/ambrio/libambrio_import_plugin.so")
  if(NOT EXISTS "${STAGE}${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

file(READ "${STAGE}${UDEVDIR}/70-ambrio-analyzer.rules" rules)
string(FIND "${rules}" "${BINDIR}/qxtool udev-probe" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the udev rule does not run ${BINDIR}/qxtool udev-probe")
endif()
file(READ "${STAGE}${DATADIR}/applications/ambrio.desktop" desktop)
if(NOT desktop MATCHES "Exec=ambrio %f" OR NOT desktop MATCHES "MimeType=application/x-ambrio-record;")
  message(FATAL_ERROR "the desktop file does not open record files with ambrio")
endif()
file(READ "${STAGE}${DATADIR}/mime/packages/ambrio.xml" mime)
if(NOT mime MATCHES "type=\"application/x-ambrio-record\"" OR NOT mime MATCHES "pattern=\"\\*.qxc\"")
  message(FATAL_ERROR "the file type does not claim *.qxc")
endif()
# The installed qxtool finds its import module: the error is about the input, not the module.
execute_process(COMMAND "${STAGE}${BINDIR}/qxtool" import "${STAGE}/no-such.sr" -o "${STAGE}/out.qxc" --cc1 CC1
                ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 1 OR NOT err MATCHES "no-such.sr: No such file or directory")
  message(FATAL_ERROR "the installed qxtool does not load its import module: ${err}")
endif()
find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
  execute_process(COMMAND ${VALIDATE} "${STAGE}${DATADIR}/applications/ambrio.desktop" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "desktop-file-validate rejects the desktop file")
  endif()
endif()
file(REMOVE_RECURSE "${STAGE}")
