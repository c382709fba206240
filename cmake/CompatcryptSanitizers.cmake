# COMPATCRYPT_SANITIZE: a comma-separated -fsanitize= list applied to every
# target (for example "address,undefined" or "thread").
set(COMPATCRYPT_SANITIZE "" CACHE STRING "Sanitizers to build with (-fsanitize= list)")
if(COMPATCRYPT_SANITIZE)
  add_compile_options(-fsanitize=${COMPATCRYPT_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${COMPATCRYPT_SANITIZE})
endif()
