# MPEG audio frame header tables.
#
# Bit rates in kbit/s, 16 per version and layer, ordered version x 3 + layer
# index (layer index 0 = Layer I, 1 = Layer II, 2 = Layer III). Index 0 (free
# format) and 15 (forbidden) are 0. MPEG-1 is ISO/IEC 11172-3; MPEG-2 and
# MPEG-2.5 use the lower-sampling-frequency table of ISO/IEC 13818-3.
resource 'MPBR' 128 "MPEG bit rates"
    # MPEG-1 Layer I, II, III
    u32 0 32 64 96 128 160 192 224 256 288 320 352 384 416 448 0
    u32 0 32 48 56 64 80 96 112 128 160 192 224 256 320 384 0
    u32 0 32 40 48 56 64 80 96 112 128 160 192 224 256 320 0
    # MPEG-2 Layer I, II, III
    u32 0 32 48 56 64 80 96 112 128 144 160 176 192 224 256 0
    u32 0 8 16 24 32 40 48 56 64 80 96 112 128 144 160 0
    u32 0 8 16 24 32 40 48 56 64 80 96 112 128 144 160 0
    # MPEG-2.5 Layer I, II, III
    u32 0 32 48 56 64 80 96 112 128 144 160 176 192 224 256 0
    u32 0 8 16 24 32 40 48 56 64 80 96 112 128 144 160 0
    u32 0 8 16 24 32 40 48 56 64 80 96 112 128 144 160 0
end

# Sampling rates in Hz, 4 per version (index 3 is reserved). The MPEG-2.5 row
# is kept as the converter has always shipped it.
resource 'MPSR' 128 "MPEG sampling rates"
    u32 44100 48000 32000 0
    u32 22050 24000 16000 0
    u32 11025 8000 8000 0
end

# The MPEG-1 audio decoder's tables as text, read line by line: the four
# Layer II bit-allocation tables (ISO/IEC 11172-3 tables 3-B.2a to 3-B.2d:
# the subband limit, then per entry: subband, entry, steps, bits, grouping,
# quantisation class; entry 0's bits are the allocation field's width) and
# the synthesis window D[i] of table 3-B.3, four values a line.
resource 'MPTB' 0 "ALLOC_0"
    file "data/mpeg/alloc_0.txt"
end
resource 'MPTB' 1 "ALLOC_1"
    file "data/mpeg/alloc_1.txt"
end
resource 'MPTB' 2 "ALLOC_2"
    file "data/mpeg/alloc_2.txt"
end
resource 'MPTB' 3 "ALLOC_3"
    file "data/mpeg/alloc_3.txt"
end
resource 'MPTB' 100 "DEWINDOW"
    file "data/mpeg/dewindow.txt"
end
