# The export component's own resources. They describe the exporter the way a
# separately installed component file would: its identity ('thng'), its name
# and description, the public resource map ('thnr') through which the
# application finds the presets, and the media types it accepts.

# Component identity: description, name/info/icon resource specs, version,
# registration flags (9: automatic version control, multiple platforms) and
# one platform entry (flags, code resource, platform 4 = 32-bit Windows).
resource 'thng' 512 "Vantro Movie exporter"
    fourcc 'spit' 'Gld0' 'VtrO'
    u32 0 0                  # component flags and mask
    fourcc 0                 # no code resource
    i16 0
    fourcc 'strn'
    i16 512
    fourcc 'stri'
    i16 512
    fourcc 0                 # no icon
    i16 0
    u32 0x00010005           # version
    u32 9                    # registration flags
    i16 0                    # icon family
    u32 1                    # platform entries
    u32 0x98030
    fourcc 'dlle'
    i16 512
    i16 4
end

resource 'strn' 512
    pstring "Vantro Movie for Palm OS"
end

resource 'stri' 512
    pstring "Exports a QuickTime Movie file into a Vantro Movie file"
end

# The exported dispatch entry point of the component file (31 characters).
resource 'dlle' 512
    cstring "VantroMovieExportComponentEntry"
end

# Public resource map: public type and ID -> local type and ID, 16 bytes each.
resource 'thnr' 512 "Public resources"
    fourcc 'STR#'
    i16 512 0
    fourcc 'STR#'
    i16 512 0
    fourcc 'src#'
    i16 1 0
    fourcc 'src#'
    i16 512 0
    fourcc 'src#'
    i16 2 0
    fourcc 'trk#'
    i16 512 0
    fourcc 'stg#'
    i16 1 0
    fourcc 'stg#'
    i16 512 0
    fourcc 'STNG'
    i16 512 0
    fourcc 'STNG'
    i16 512 0
    fourcc 'STNG'
    i16 513 0
    fourcc 'STNG'
    i16 513 0
    fourcc 'STNG'
    i16 514 0
    fourcc 'STNG'
    i16 514 0
    fourcc 'STNG'
    i16 515 0
    fourcc 'STNG'
    i16 515 0
    fourcc 'STNG'
    i16 516 0
    fourcc 'STNG'
    i16 516 0
    fourcc 'STNG'
    i16 517 0
    fourcc 'STNG'
    i16 517 0
    fourcc 'STNG'
    i16 518 0
    fourcc 'STNG'
    i16 518 0
    fourcc 'STNG'
    i16 519 0
    fourcc 'STNG'
    i16 519 0
    fourcc 'STNG'
    i16 520 0
    fourcc 'STNG'
    i16 520 0
    fourcc 'STNG'
    i16 521 0
    fourcc 'STNG'
    i16 521 0
    fourcc 'STNG'
    i16 522 0
    fourcc 'STNG'
    i16 522 0
    fourcc 'STNG'
    i16 523 0
    fourcc 'STNG'
    i16 523 0
    fourcc 'STNG'
    i16 524 0
    fourcc 'STNG'
    i16 524 0
    fourcc 'STNG'
    i16 525 0
    fourcc 'STNG'
    i16 525 0
    fourcc 'STNG'
    i16 526 0
    fourcc 'STNG'
    i16 526 0
    fourcc 'STNG'
    i16 527 0
    fourcc 'STNG'
    i16 527 0
    fourcc 'STNG'
    i16 528 0
    fourcc 'STNG'
    i16 528 0
    fourcc 'STNG'
    i16 529 0
    fourcc 'STNG'
    i16 529 0
    fourcc 'STNG'
    i16 530 0
    fourcc 'STNG'
    i16 530 0
    fourcc 'STNG'
    i16 531 0
    fourcc 'STNG'
    i16 531 0
    fourcc 'STNG'
    i16 532 0
    fourcc 'STNG'
    i16 532 0
    fourcc 'STNG'
    i16 533 0
    fourcc 'STNG'
    i16 533 0
    fourcc 'STNG'
    i16 534 0
    fourcc 'STNG'
    i16 534 0
    fourcc 'STNG'
    i16 535 0
    fourcc 'STNG'
    i16 535 0
    fourcc 'STNG'
    i16 536 0
    fourcc 'STNG'
    i16 536 0
    fourcc 'STNG'
    i16 537 0
    fourcc 'STNG'
    i16 537 0
    fourcc 'STNG'
    i16 538 0
    fourcc 'STNG'
    i16 538 0
    fourcc 'STNG'
    i16 539 0
    fourcc 'STNG'
    i16 539 0
    fourcc 'STNG'
    i16 540 0
    fourcc 'STNG'
    i16 540 0
    fourcc 'STNG'
    i16 541 0
    fourcc 'STNG'
    i16 541 0
    fourcc 'STNG'
    i16 542 0
    fourcc 'STNG'
    i16 542 0
    fourcc 'STNG'
    i16 543 0
    fourcc 'STNG'
    i16 543 0
    fourcc 'STNG'
    i16 544 0
    fourcc 'STNG'
    i16 544 0
    fourcc 'STNG'
    i16 545 0
    fourcc 'STNG'
    i16 545 0
    fourcc 'STNG'
    i16 546 0
    fourcc 'STNG'
    i16 546 0
    fourcc 'STNG'
    i16 547 0
    fourcc 'STNG'
    i16 547 0
    fourcc 'STNG'
    i16 548 0
    fourcc 'STNG'
    i16 548 0
    fourcc 'STNG'
    i16 549 0
    fourcc 'STNG'
    i16 549 0
    fourcc 'STNG'
    i16 550 0
    fourcc 'STNG'
    i16 550 0
    fourcc 'STNG'
    i16 551 0
    fourcc 'STNG'
    i16 551 0
    fourcc 'STNG'
    i16 552 0
    fourcc 'STNG'
    i16 552 0
    fourcc 'STNG'
    i16 553 0
    fourcc 'STNG'
    i16 553 0
end

# Accepted source media: one entry, video.
resource 'src#' 512
    u32 1
    u32 0
    fourcc 'vide'
    u32 1
    i16 1
    i16 4
end

resource 'trk#' 512
    u32 1
    u32 0
    fourcc 'eyes'
    u32 1
    i16 -1
    i16 2
end

# The shipped presets, named for the public resource request: a 4-byte zero,
# the count, then 24 bytes per preset (flags, type, ID, padding).
resource 'stg#' 512 "Preset list"
    u32 0
    u32 71
    u32 0
    fourcc 'STNG'
    i16 512 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 513 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 514 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 515 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 516 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 517 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 518 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 519 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 520 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 521 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 522 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 523 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 524 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 525 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 526 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 527 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 528 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 529 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 530 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 531 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 532 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 533 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 534 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 535 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 536 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 537 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 538 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 539 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 540 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 541 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 542 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 543 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 544 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 545 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 546 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 547 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 548 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 549 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 550 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 551 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 552 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 553 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 554 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 555 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 556 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 557 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 558 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 559 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 560 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 561 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 562 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 563 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 564 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 565 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 566 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 567 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 568 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 569 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 570 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 571 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 572 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 573 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 574 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 575 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 576 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 577 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 578 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 579 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 580 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 581 0
    zero 12
    u32 0
    fourcc 'STNG'
    i16 582 0
    zero 12
end
