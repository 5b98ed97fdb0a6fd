# Compiles a signing public key into a target: reads the PEM file at
# configure time, checks its form, and writes a header with its text into the
# build tree (rewritten only when the text changes, so that a changed key
# rebuilds what includes it). The configure step runs again whenever the key
# file changes.
function(tq_signing_key_header target key_file dev_key_file)
  if(NOT EXISTS ${key_file})
    message(FATAL_ERROR "TQ_SIGNING_PUBLIC_KEY: no such file: ${key_file}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${key_file} ${dev_key_file})
  file(READ ${key_file} pem)
  string(STRIP "${pem}" pem)
  string(REPLACE "\r" "" pem "${pem}")
  if(NOT pem MATCHES "^-----BEGIN PUBLIC KEY-----\n[A-Za-z0-9+/=\n]+\n-----END PUBLIC KEY-----$")
    message(FATAL_ERROR "TQ_SIGNING_PUBLIC_KEY: ${key_file} is not one PEM public key "
                        "(SubjectPublicKeyInfo, \"-----BEGIN PUBLIC KEY-----\")")
  endif()
  file(READ ${dev_key_file} dev_pem)
  string(STRIP "${dev_pem}" dev_pem)
  string(REPLACE "\r" "" dev_pem "${dev_pem}")
  if(pem STREQUAL dev_pem)
    message(WARNING "The DEVELOPMENT signing key is compiled in (keys/dev-signing-public.pem): its private "
                    "half is public, so such a build accepts install files anyone can sign. Release builds "
                    "pass their own key with -DTQ_SIGNING_PUBLIC_KEY=FILE.")
    set(TQ_SIGNING_KEY_IS_DEV 1)
  else()
    message(STATUS "Signing public key compiled in: ${key_file}")
    set(TQ_SIGNING_KEY_IS_DEV 0)
  endif()
  set(TQ_SIGNING_KEY_PEM "${pem}")
  set(TQ_DEV_SIGNING_KEY_PEM "${dev_pem}")
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/generated)
  configure_file(${PROJECT_SOURCE_DIR}/keys/signing_key_pem.h.in ${dir}/signing_key_pem.h @ONLY)
  target_include_directories(${target} PRIVATE ${dir})
endfunction()
