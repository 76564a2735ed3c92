# The handheld makers: 64-byte NUL-terminated name, then the maker id that the
# presets' 'manu'/'name' atoms refer to. Stored order is menu order before
# sorting.
resource 'MANU' 512 "Makers"
    maker 0  "Generic"
    maker 1  "Streaming"
    maker 2  "Acer"
    maker 3  "HandEra"
    maker 4  "Handspring"
    maker 5  "IBM"
    maker 6  "Kyocera"
    maker 7  "Palm"
    maker 8  "Samsung"
    maker 9  "Sony CLIE"
    maker 10 "Tapwave"
    maker 11 "Garmin"
end
