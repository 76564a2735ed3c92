# The user interface's string lists ('STR#'), addressed by list and item
# number. Item numbers are fixed: the code asks for "list 133, item 5", so an
# item that nothing shows keeps its place with an empty string.

# Main window: labels, folder chooser title, removal questions.
resource 'STR#' 128 "Main window"
    string "Folder:"
    string "Export location:"
    string "Select a folder for converted movie files:"
    string "Are you sure you want to remove the selected file(s)?"
    string ""
    string "multiple locations"
    string ""
    string "Are you sure you want to remove all the files?"
end

# Conversion status line: "2 of 5".
resource 'STR#' 129 "Conversion status"
    string "Converting "
    string "Converting file "
    string " of "
end

# Video labels of the Audio & Video tab.
resource 'STR#' 130 "Video labels"
    string "Video Format:"
    string "Frames Per Second:"
    string "Size:"
    string "Bit Rate:"
end

resource 'STR#' 132 "Custom"
    string "Custom"
    string "-"
end

# Row and conversion messages.
resource 'STR#' 133 "Conversion messages"
    string "Error code "
    string "Not all the files have been converted.\r\rAre you sure you want to cancel the conversion?"
    string "Canceled"
    string "Duration: "
    string "Conversion complete"
end

# Removable storage.
resource 'STR#' 134 "Removable storage"
    string "Choose Removable Drive"
    string "\\PALM\\PROGRAMS\\VANTRO"
    string ""
    string ""
    string "No Removable Media drives found."
end

resource 'STR#' 135 "Start-up"
    string ""
    string ""
    string ""
    string "This application requires the QuickTime Authoring Component.  Please run your QuickTime Updater and install this component."
end

# Export destination popup.
resource 'STR#' 136 "Export destinations"
    string "Source folder"
    string "HotSync"
    string "Removable storage…"
    string "-"
    string "Other..."
end

# "CLIÉ Audio" bit rates in bit/s, mono and stereo.
resource 'STR#' 137 "CLIE Audio mono bit rates"
    string "11750"
    string "16500"
    string "23500"
    string "33000"
    string "47000"
    string "66000"
end

resource 'STR#' 138 "CLIE Audio stereo bit rates"
    string "23500"
    string "33000"
    string "47000"
    string "66000"
end

# ADPCM sample rates in Hz: 2:1 and 4:1, on mono-only devices...
resource 'STR#' 141 "ADPCM 2:1 rates, mono devices"
    string "4096"
    string "8192"
    string "16384"
end

resource 'STR#' 142 "ADPCM 4:1 rates, mono devices"
    string "4096"
    string "8192"
    string "16384"
end

# ...and on stereo-capable devices.
resource 'STR#' 153 "ADPCM 2:1 rates, stereo devices"
    string "8000"
    string "11025"
    string "22050"
    string "44100"
end

resource 'STR#' 154 "ADPCM 4:1 rates, stereo devices"
    string "8000"
    string "11025"
    string "22050"
    string "44100"
end

# Sound labels and choices of the Audio & Video tab.
resource 'STR#' 143 "Sound labels"
    string "Mono"
    string "Stereo"
    string "Dual"
    string ""
    string "Audio Format:"
    string "Audio Channels:"
    string "Sample Rate:"
    string "Bit Rate:"
    string "Compression Ratio:"
    string "Audio Boost:"
    string ""
    string "Not Applicable"
end

# Sound format names.
resource 'STR#' 144 "Sound formats"
    string "No Audio"
    string "-"
    string "Uncompressed"
    string "ADPCM"
    string "CLIÉ Audio"
    string "Yamaha ADPCM"
end

# Uncompressed sample rates in Hz: mono-only and stereo-capable devices.
resource 'STR#' 145 "Uncompressed rates, mono devices"
    string "4096"
    string "8192"
    string "16384"
    string "32768"
end

resource 'STR#' 152 "Uncompressed rates, stereo devices"
    string "8000"
    string "11025"
    string "22050"
    string "44100"
end

resource 'STR#' 146 "Compression ratios"
    string "2:1"
    string "4:1"
end

resource 'STR#' 147 "Audio boost"
    string "None"
    string "Low"
    string "Medium"
    string "High"
end

# Sound format descriptions (item by format: none, 627, 630, ADPCM, 624, 629).
resource 'STR#' 149 "Sound descriptions"
    string "The movie has no sound."
    string "8-bit sound without compression, for handhelds that play mono sound. Largest files."
    string "16-bit sound without compression, for handhelds that play stereo sound. Largest files."
    string "IMA ADPCM: 2:1 keeps more detail, 4:1 makes smaller files. Plays on every handheld with sound."
    string "ATRAC3 sound for Sony CLIÉ handhelds: near-CD quality at a small bit rate."
    string "Yamaha ADPCM at 8 kHz, mono: speech-quality sound for handhelds with a Yamaha sound chip."
end

resource 'STR#' 151 "Yamaha ADPCM rates"
    string "8000"
end

# Video format descriptions (item by format: none, 16 Grays, Cinepak Mobile).
resource 'STR#' 160 "Video descriptions"
    string "The movie has no pictures: sound only."
    string "Sixteen shades of gray, for handhelds with grayscale screens."
    string "Cinepak colour video, for handhelds with colour screens."
end

# Layout (screen) sizes.
resource 'STR#' 170 "Layout sizes"
    string "160 x 160"
    string "240 x 240"
    string "320 x 320"
    string "320 x 480"
    string "480 x 320"
end

# Tab labels.
resource 'STR#' 220 "Tabs"
    string "Files"
    string "Audio & Video"
    string "Layout"
end

# Layout tab labels and the preset popups' label.
resource 'STR#' 246 "Layout labels"
    string "Select Background Color"
    string "Dimensions (in pixels)"
    string "Layout (screen size):"
    string "Movie (video size):"
    string ""
    string "Background"
    string ""
    string "Encoding:"
end

# The export component's public strings.
resource 'STR#' 512 "Exporter"
    string "Vantro Movie for Palm OS"
end

# The short file type string of the exporter.
resource 'STR#' 513 "File type"
    string "Vantro Movie for Palm OS"
end

# Video format popup.
resource 'STR#' 515 "Video formats"
    string "no video"
    string "-"
    string "Cinepak Mobile"
    string "16 Grays"
end

# Movie size popup.
resource 'STR#' 516 "Movie sizes"
    string "Default"
    string "-"
    string "80 x 60"
    string "120 x 92"
    string "160 x 120"
    string "240 x 180"
    string "320 x 240"
    string "440 x 280"
    string "480 x 320"
    string "-"
    string "Full 160 x 160"
    string "Full 320 x 320"
end

# Frames per second popup: "Best" keeps every source frame.
resource 'STR#' 517 "Frame rates"
    string "Best"
    string "1"
    string "2"
    string "4"
    string "5"
    string "6"
    string "8"
    string "10"
    string "12"
    string "15"
    string "20"
    string "24"
    string "25"
    string "30"
end

# Video bit rate popup, read by the leading digits.
resource 'STR#' 518 "Video bit rates"
    string "64 kbps"
    string "128 kbps"
    string "160 kbps"
    string "240 kbps"
    string "320 kbps"
    string "400 kbps"
    string "480 kbps"
    string "560 kbps"
    string "640 kbps"
    string "720 kbps"
    string "800 kbps"
    string "1000 kbps"
    string "1200 kbps"
    string "1500 kpbs"
end

# User preset dialogs.
resource 'STR#' 1152 "Preset dialogs"
    string "New Preset Name:"
    string "Current Preset Name:"
    string "Save Preset As:"
    string "Current Presets"
    string ""
    string "Are you sure you want to delete selected preset(s)?"
end
