# Builds the demo's served directory in the build tree:
#   sample/catalog.json, sample/releases.json   copied from the source tree
#   sample/files/*.bin                          written by tolvane-fwpack
#   sample/files/*.txt                          copied (the catalogue's "path" files)
#   sample/releases/Tolvane-2.1.9.2.zip         zipped from sample/release/
set(sample_src ${CMAKE_CURRENT_SOURCE_DIR}/sample)
set(sample_out ${CMAKE_CURRENT_BINARY_DIR}/sample)
set(TOLVANE_CLOUDSIM_SAMPLE_DIR ${sample_out} CACHE INTERNAL "")

# file | type | version | compile time | image bytes | seed
set(sample_firmware
  "arno2-41-2.20.1.bin|41|2.20.1|2026-10-12 09:30:00|24576|4101"
  "arno2-41-2.21.0.bin|41|2.21.0|2026-11-03 17:05:12|24576|4102"
  "arno2-41-2.21.3.bin|41|2.21.3|2026-11-21 11:45:00|24576|4103"
  "databoard-44-1.4.0.bin|44|1.4.0|2026-09-30 14:00:00|6144|4401"
  "databoard-44-1.5.0.bin|44|1.5.0|2026-11-10 08:20:00|6144|4402"
  "hesk24s-79-3.1.2.bin|79|3.1.2|2026-08-18 16:40:00|4096|7901"
  "compass-38-1.0.7.bin|38|1.0.7|2026-07-07 07:07:07|2048|3801"
  "emba2-80-1.8.2.bin|80|1.8.2|2026-10-28 12:00:00|32768|8001"
  "emba2db-83-1.2.0.bin|83|1.2.0|2026-10-01 10:00:00|6144|8301"
  "tunex-77-2.0.4.bin|77|2.0.4|2026-06-15 09:00:00|3072|7701"
  "servo-86-1.1.1.bin|86|1.1.1|2026-05-20 13:30:00|2048|8601"
  "jx1-46-1.3.0.bin|46|1.3.0|2026-09-09 09:09:00|2048|4601")

set(sample_outputs)
foreach(entry ${sample_firmware})
  string(REPLACE "|" ";" f "${entry}")
  list(GET f 0 name)
  list(GET f 1 type)
  list(GET f 2 version)
  list(GET f 3 ctime)
  list(GET f 4 size)
  list(GET f 5 seed)
  add_custom_command(
    OUTPUT ${sample_out}/files/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${sample_out}/files
    COMMAND $<TARGET_FILE:tolvane-fwpack> -o ${sample_out}/files/${name} --type ${type}
            --version ${version} --compile-time "${ctime}" --size ${size} --seed ${seed}
    DEPENDS tolvane-fwpack
    VERBATIM)
  list(APPEND sample_outputs ${sample_out}/files/${name})
endforeach()

file(GLOB sample_texts CONFIGURE_DEPENDS ${sample_src}/files/*.txt)
foreach(src ${sample_texts} ${sample_src}/catalog.json ${sample_src}/releases.json
            ${sample_src}/faults-example.json)
  file(RELATIVE_PATH rel ${sample_src} ${src})
  add_custom_command(OUTPUT ${sample_out}/${rel}
    COMMAND ${CMAKE_COMMAND} -E copy ${src} ${sample_out}/${rel}
    DEPENDS ${src} VERBATIM)
  list(APPEND sample_outputs ${sample_out}/${rel})
endforeach()

file(GLOB sample_release CONFIGURE_DEPENDS ${sample_src}/release/*)
set(sample_zip ${sample_out}/releases/Tolvane-2.1.9.2.zip)
set(sample_release_names)
foreach(src ${sample_release})
  get_filename_component(n ${src} NAME)
  list(APPEND sample_release_names ${n})
endforeach()
add_custom_command(OUTPUT ${sample_zip}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${sample_out}/releases
  COMMAND ${CMAKE_COMMAND} -E tar cf ${sample_zip} --format=zip -- ${sample_release_names}
  WORKING_DIRECTORY ${sample_src}/release
  DEPENDS ${sample_release} VERBATIM)
list(APPEND sample_outputs ${sample_zip})

add_custom_target(tolvane-cloud-sim-sample ALL DEPENDS ${sample_outputs})
