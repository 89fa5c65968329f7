# RZT2_SANITIZE=ON: AddressSanitizer and UndefinedBehaviorSanitizer;
# RZT2_SANITIZE=thread: ThreadSanitizer (it cannot be combined with them).
if(RZT2_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(RZT2_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
