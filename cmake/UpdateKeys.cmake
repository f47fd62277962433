# The keys an executable accepts for updates (update/UpdateSignature.h) are
# linked into it as a generated list: the maker's public keys
# (resources/UpdateKey*.pem, at most two) for what ships, the tests' key
# (tests/update/update-test-key.pub.pem) for every program built to be
# tested, which also says so (UpdateAcceptsTestKeys): such a program asks
# only a test endpoint and names itself a test build. quillcore itself
# names no key.
#
#   quill_accept_update_keys(<target> MAKER|TEST)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
file(GLOB QUILL_MAKER_UPDATE_KEYS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/UpdateKey*.pem)
list(SORT QUILL_MAKER_UPDATE_KEYS)
set(QUILL_TEST_UPDATE_KEYS ${CMAKE_SOURCE_DIR}/tests/update/update-test-key.pub.pem)

set(QUILL_MAKER_UPDATE_KEYS_KIND)
set(QUILL_TEST_UPDATE_KEYS_KIND --tests)
foreach(kind MAKER TEST)
  set(source ${CMAKE_BINARY_DIR}/generated/UpdateKeys_${kind}.cpp)
  add_custom_command(
    OUTPUT ${source}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/dist/update_keys.py --out ${source}
            ${QUILL_${kind}_UPDATE_KEYS_KIND} ${QUILL_${kind}_UPDATE_KEYS}
    DEPENDS ${QUILL_${kind}_UPDATE_KEYS} ${CMAKE_SOURCE_DIR}/tools/dist/update_keys.py
    COMMENT "Listing the ${kind} update keys")
  set(QUILL_UPDATE_KEYS_SOURCE_${kind} ${source})
endforeach()

function(quill_accept_update_keys target kind)
  target_sources(${target} PRIVATE ${QUILL_UPDATE_KEYS_SOURCE_${kind}})
endfunction()
