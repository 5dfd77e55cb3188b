# The end-to-end tests run Node peers (peers.mjs) from the npm packages that
# scripts/deps puts into tools/.npm, and start collector_helper.
target_compile_definitions(${name} PRIVATE
  ZTL_NPM_DIR="${PROJECT_SOURCE_DIR}/tools/.npm"
  ZTL_PEERS_SCRIPT="${dir}/peers.mjs"
  ZTL_COLLECTOR_HELPER="$<TARGET_FILE:collector_helper>")
