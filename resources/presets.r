# The 71 device presets ('STNG' 512 to 582), from the readable table beside
# this file.
presets "presets.table"
