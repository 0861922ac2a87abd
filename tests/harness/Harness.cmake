# The test harness: one Wine prefix and one virtual display per build tree, the test PKI trusted in
# that prefix only, and a scriptable HTTPS server on loopback.

# A port per build tree, so that two build trees on one machine do not collide; it and the ports the
# tests add to it (up to 13) stay below Linux's ephemeral range (32768 to 60999), from which the kernel
# gives every outgoing connection its local port: a server port in that range can be found taken by
# any connection on the machine at the moment the server starts.
string(MD5 _hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_hash}" 0 4 _hex)
math(EXPR WEBSETUP_TEST_PORT "10000 + (0x${_hex} % 11000) * 2" OUTPUT_FORMAT DECIMAL)
set(WEBSETUP_HARNESS_DIR "${CMAKE_BINARY_DIR}/harness")
set(WEBSETUP_PKI_DIR "${WEBSETUP_HARNESS_DIR}/pki")
set(WEBSETUP_SERVER_DIR "${WEBSETUP_HARNESS_DIR}/server")

websetup_config(loopback "localhost:${WEBSETUP_TEST_PORT}" "BRIMLOW AI LABS PRIVATE LIMITED")
websetup_config(unconfigured "localhost:${WEBSETUP_TEST_PORT}" "PENDING_CERTUM_CERTIFICATE")

# The test PKI's CRLs are served on the odd port after it (harness-env.sh).
math(EXPR WEBSETUP_CRL_PORT "${WEBSETUP_TEST_PORT} + 1")

set(_harness "${CMAKE_CURRENT_LIST_DIR}/harness.sh")
add_test(NAME harness_up COMMAND "${_harness}" up "${CMAKE_BINARY_DIR}" $<TARGET_FILE:trust_root> ${WEBSETUP_CRL_PORT})
set_tests_properties(harness_up PROPERTIES FIXTURES_SETUP harness)
add_test(NAME harness_down COMMAND "${_harness}" down "${CMAKE_BINARY_DIR}")
set_tests_properties(harness_down PROPERTIES FIXTURES_CLEANUP harness)

# websetup_test(NAME SOURCES... [CONFIG name] [LIBS ...] [ENV ...])
# A GoogleTest program linked with the program's code, run under Wine. CONFIG picks the compiled-in
# host and publisher (default: the loopback server and the real publisher).
function(websetup_test name)
  cmake_parse_arguments(T "" "CONFIG" "SOURCES;LIBS;ENV;PROPERTIES" ${ARGN})
  if(NOT T_CONFIG)
    set(T_CONFIG loopback)
  endif()
  add_executable(${name} ${T_SOURCES} $<TARGET_OBJECTS:websetup_config_${T_CONFIG}>)
  target_link_libraries(${name} PRIVATE websetup_core websetup_windows_api GTest::gtest_main ${T_LIBS})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests")
  target_link_options(${name} PRIVATE -static)
  websetup_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED harness
    ENVIRONMENT "WEBSETUP_HARNESS_DIR=${WEBSETUP_HARNESS_DIR};WEBSETUP_TEST_PORT=${WEBSETUP_TEST_PORT};${T_ENV}"
    ${T_PROPERTIES})
endfunction()

# The scriptable HTTPS server for the loopback configuration (https_fixture.py, beside this file).
# Tests that need it add FIXTURES_REQUIRED "harness;https" and write their routes into
# ${WEBSETUP_SERVER_DIR}/routes.
add_test(NAME https_up COMMAND python3 "${CMAKE_CURRENT_LIST_DIR}/https_fixture.py" --daemon
  --port ${WEBSETUP_TEST_PORT} --cert "${WEBSETUP_PKI_DIR}/tls-localhost.pem" --key "${WEBSETUP_PKI_DIR}/tls-localhost.key"
  --routes "${WEBSETUP_SERVER_DIR}/routes" --log "${WEBSETUP_SERVER_DIR}/requests.log"
  --pidfile "${WEBSETUP_HARNESS_DIR}/https.server.pid")
set_tests_properties(https_up PROPERTIES FIXTURES_SETUP https FIXTURES_REQUIRED harness)
add_test(NAME https_down COMMAND "${CMAKE_CURRENT_LIST_DIR}/stop-server.sh" "${WEBSETUP_HARNESS_DIR}/https.server.pid")
set_tests_properties(https_down PROPERTIES FIXTURES_CLEANUP https)
