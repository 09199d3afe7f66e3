# Refuses, when the build is configured, an UPDATER_SIGNING_PUBLIC_KEY that the updater
# could not use or that protects nothing. Also runs as a script (cmake -P) for its tests.
#
# The key's text is the base64 of 32 bytes: 43 characters, the last of which leaves its
# two unused bits zero, then "=". Keys whose private half is public are refused: the one
# RFC 8032 uses as its example and the one the end-to-end tests sign with
# (tests/e2e/release-signing-test.key).
if(CMAKE_SCRIPT_MODE_FILE)
    cmake_minimum_required(VERSION 3.22)
endif()
set(UPDATER_PUBLISHED_TEST_KEYS "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo="
    "j5zI8FgV1w69angunYu0mkYwVPaprvsxdjLEuHne+e0=")
if(NOT UPDATER_SIGNING_PUBLIC_KEY STREQUAL "")
    string(LENGTH "${UPDATER_SIGNING_PUBLIC_KEY}" keyLength)
    if(NOT keyLength EQUAL 44
       OR NOT UPDATER_SIGNING_PUBLIC_KEY MATCHES "^[A-Za-z0-9+/]+[AEIMQUYcgkosw048]=$")
        message(FATAL_ERROR "UPDATER_SIGNING_PUBLIC_KEY is not an Ed25519 public key in the "
                            "form updater-publish keygen prints (44 base64 characters ending "
                            "in \"=\"): '${UPDATER_SIGNING_PUBLIC_KEY}'")
    endif()
    if(UPDATER_SIGNING_PUBLIC_KEY IN_LIST UPDATER_PUBLISHED_TEST_KEYS)
        message(FATAL_ERROR "UPDATER_SIGNING_PUBLIC_KEY is a test key whose private half is "
                            "public; make your own with updater-publish keygen")
    endif()
endif()
