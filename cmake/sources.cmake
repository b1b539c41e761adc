# Sources of the Windows program, apart from its entry point and resources.
set(QUELLIN_APP_SOURCES
  ${CMAKE_SOURCE_DIR}/framework/AfxWin.cpp
  ${CMAKE_SOURCE_DIR}/framework/AfxCtrls.cpp
  ${CMAKE_SOURCE_DIR}/framework/AfxGdi.cpp
  ${CMAKE_SOURCE_DIR}/framework/AfxFile.cpp
  ${CMAKE_SOURCE_DIR}/app/DigestApp.cpp
  ${CMAKE_SOURCE_DIR}/app/DigestDlg.cpp
  ${CMAKE_SOURCE_DIR}/app/AboutDlg.cpp
  ${CMAKE_SOURCE_DIR}/app/Tray.cpp
  ${CMAKE_SOURCE_DIR}/app/Clipboard.cpp
  ${CMAKE_SOURCE_DIR}/digest/report_progress.cpp
  ${CMAKE_SOURCE_DIR}/jobs/JobState.cpp
  ${CMAKE_SOURCE_DIR}/jobs/CheckJob.cpp
  ${CMAKE_SOURCE_DIR}/jobs/TargetList.cpp
  ${CMAKE_SOURCE_DIR}/intake/OpenFile.cpp
  ${CMAKE_SOURCE_DIR}/intake/DropFiles.cpp
)
