# The folder a user unzips and uses: the tool, its help page and sound, and the
# two output folders the tool itself never creates.
set(TORVANEL_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(TORVANEL_ZIP ${CMAKE_BINARY_DIR}/torvanel-${PROJECT_VERSION}.zip)

add_custom_command(
    OUTPUT ${TORVANEL_PACKAGE_DIR}/check.wav
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TORVANEL_PACKAGE_DIR}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/make_chime.py
            ${TORVANEL_PACKAGE_DIR}/check.wav
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/make_chime.py
    COMMENT "Synthesising check.wav")

add_custom_command(
    OUTPUT ${TORVANEL_ZIP}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TORVANEL_PACKAGE_DIR}/jpg ${TORVANEL_PACKAGE_DIR}/avi
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:torvanel> ${TORVANEL_PACKAGE_DIR}/torvanel.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/package/torvanel.htm
            ${TORVANEL_PACKAGE_DIR}/torvanel.htm
    COMMAND ${CMAKE_COMMAND} -E remove -f ${TORVANEL_ZIP}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${TORVANEL_ZIP} --format=zip
            torvanel.exe jpg avi check.wav torvanel.htm
    WORKING_DIRECTORY ${TORVANEL_PACKAGE_DIR}
    DEPENDS torvanel ${TORVANEL_PACKAGE_DIR}/check.wav ${CMAKE_SOURCE_DIR}/package/torvanel.htm
    COMMENT "Packing torvanel-${PROJECT_VERSION}.zip")

add_custom_target(package_zip ALL DEPENDS ${TORVANEL_ZIP})
