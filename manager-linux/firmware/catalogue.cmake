# Builds one firmware image per image tag and the catalogue that lists them, in
# the firmware folder beside the manager's executable. Every image installs
# the versions below, newer than what the devices leave the factory with.
set(NETTLEBEAM_FIRMWARE_SW_VERSION 1.1.0.0)
set(NETTLEBEAM_FIRMWARE_HW_VERSION 310)
set(firmware_dir ${CMAKE_CURRENT_BINARY_DIR}/firmware)

# name|file stem|device types (comma separated). The image tool takes the
# image tag from the first type, as the library checks it.
set(firmware_images
  "Gigabit TAP firmware|gigabit-gen1|3"
  "Gigabit TAP (B) firmware|gigabit-gen1b|4"
  "Gigabit TAP Gen 2 firmware|gigabit-gen2|5,8,9,10"
  "Gigabit TAP Gen 3 firmware|gigabit-gen3|6,7"
  "10 Gigabit TAP firmware|ten-gigabit|11"
  "10 Gigabit TAP GPS firmware|ten-gigabit-gps|12"
  "Fast Ethernet TAP firmware|fast-ethernet|13")

set(catalogue "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<devices>\n")
set(image_files "")
foreach(image ${firmware_images})
  string(REPLACE "|" ";" fields "${image}")
  list(GET fields 0 name)
  list(GET fields 1 stem)
  list(GET fields 2 type_text)
  string(REPLACE "," ";" types "${type_text}")
  list(GET types 0 first_type)
  set(output ${firmware_dir}/${stem}-${NETTLEBEAM_FIRMWARE_SW_VERSION}.img)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${firmware_dir}
    COMMAND nettlebeam-firmware-image --output ${output} --type ${first_type}
            --hw-version ${NETTLEBEAM_FIRMWARE_HW_VERSION}
            --sw-version ${NETTLEBEAM_FIRMWARE_SW_VERSION}
    DEPENDS nettlebeam-firmware-image
    COMMENT "Building firmware image ${stem}" VERBATIM)
  list(APPEND image_files ${output})

  string(APPEND catalogue "  <device>\n    <name>${name}</name>\n")
  string(APPEND catalogue "    <file>${stem}-${NETTLEBEAM_FIRMWARE_SW_VERSION}.img</file>\n")
  foreach(type ${types})
    string(APPEND catalogue "    <type>${type}</type>\n")
  endforeach()
  # Devices that hold two firmware images (the 10 gigabit types) have one
  # hardware version per image slot.
  string(APPEND catalogue "    <hwversion>${NETTLEBEAM_FIRMWARE_HW_VERSION}</hwversion>\n")
  if(first_type STREQUAL "11" OR first_type STREQUAL "12")
    string(APPEND catalogue "    <hwversion>${NETTLEBEAM_FIRMWARE_HW_VERSION}</hwversion>\n")
  endif()
  string(APPEND catalogue "    <swversion>${NETTLEBEAM_FIRMWARE_SW_VERSION}</swversion>\n")
  string(APPEND catalogue "  </device>\n")
endforeach()
string(APPEND catalogue "</devices>\n")
file(GENERATE OUTPUT ${firmware_dir}/firmware.xml CONTENT "${catalogue}")

add_custom_target(nettlebeam_firmware_catalogue ALL DEPENDS ${image_files})
