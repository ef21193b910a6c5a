# The Ansible collection zendrival.updater (packaging/ansible/zendrival/updater). ansible-galaxy
# builds it into ansible/zendrival-updater-VERSION.tar.gz and installs that into
# ansible/collections, the tree the tests point ANSIBLE_COLLECTIONS_PATH at and the component
# "ansible" (package updater-ansible) installs where Debian's ansible-core reads collections.
# Without ansible-galaxy (scripts/install-deps installs ansible-core) it is left out.
set(ZV_ANSIBLE_SOURCE ${PROJECT_SOURCE_DIR}/packaging/ansible/zendrival/updater)
set(ZV_ANSIBLE_DIR ${PROJECT_BINARY_DIR}/ansible)
set(ZV_ANSIBLE_COLLECTIONS ${ZV_ANSIBLE_DIR}/collections)
set(ZV_ANSIBLE_COLLECTION ${ZV_ANSIBLE_COLLECTIONS}/ansible_collections/zendrival/updater)
set(ZV_ANSIBLE_COLLECTION_BUILT FALSE)

# The collection is released with the program: one version for both.
file(STRINGS ${ZV_ANSIBLE_SOURCE}/galaxy.yml zv_galaxy_version REGEX "^version:")
string(REGEX REPLACE "^version: *" "" zv_galaxy_version "${zv_galaxy_version}")
if(NOT zv_galaxy_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/ansible/zendrival/updater/galaxy.yml has version "
    "'${zv_galaxy_version}', the project ${PROJECT_VERSION}")
endif()

find_program(ZV_ANSIBLE_GALAXY ansible-galaxy)
if(NOT ZV_ANSIBLE_GALAXY)
  message(STATUS "ansible-galaxy not found: the Ansible collection is not built")
  return()
endif()
set(ZV_ANSIBLE_COLLECTION_BUILT TRUE)

file(GLOB_RECURSE zv_ansible_sources CONFIGURE_DEPENDS ${ZV_ANSIBLE_SOURCE}/*)
list(FILTER zv_ansible_sources EXCLUDE REGEX "/__pycache__/")
set(zv_ansible_tarball ${ZV_ANSIBLE_DIR}/zendrival-updater-${PROJECT_VERSION}.tar.gz)
# ansible-galaxy keeps its temporary files and caches under the build's ANSIBLE_HOME, not the
# user's; it installs a tarball offline, asking no server.
set(zv_ansible_env ${CMAKE_COMMAND} -E env ANSIBLE_HOME=${ZV_ANSIBLE_DIR}/home
  ANSIBLE_LOCAL_TEMP=${ZV_ANSIBLE_DIR}/home/tmp ANSIBLE_COLLECTIONS_PATH=${ZV_ANSIBLE_COLLECTIONS}
  ANSIBLE_NOCOLOR=1)
add_custom_command(OUTPUT ${zv_ansible_tarball} ${ZV_ANSIBLE_COLLECTION}/MANIFEST.json
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${ZV_ANSIBLE_COLLECTIONS}
  COMMAND ${zv_ansible_env} ${ZV_ANSIBLE_GALAXY} collection build --force
    --output-path ${ZV_ANSIBLE_DIR} ${ZV_ANSIBLE_SOURCE}
  COMMAND ${zv_ansible_env} ${ZV_ANSIBLE_GALAXY} collection install --offline --force
    -p ${ZV_ANSIBLE_COLLECTIONS} ${zv_ansible_tarball}
  DEPENDS ${zv_ansible_sources}
  COMMENT "Building the Ansible collection zendrival.updater" VERBATIM)
add_custom_target(zv_ansible_collection ALL
  DEPENDS ${zv_ansible_tarball} ${ZV_ANSIBLE_COLLECTION}/MANIFEST.json)

install(DIRECTORY ${ZV_ANSIBLE_COLLECTION}/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/ansible/collections/ansible_collections/zendrival/updater
  COMPONENT ansible PATTERN __pycache__ EXCLUDE)
