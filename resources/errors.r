# The error table: the message shown in a file's row for each status code a
# conversion can end with. Codes missing here read "Error code " and the number.
resource 'ESTR' 128 "Errors"
    error -2009 "Audio-only movie not converted"
    error -2048 "Unable to open source file"
    error -2055 "Audio track not converted"
    error -108  "Out of memory"
    error -2003 "Unable to decode video"
    error -8961 "Video/Audio decoder not available"
    error -38   "Unable to create file"
    error -50   "Parameter error"
    error -34   "Disk is full"
    error -36   "I/O error - disk may be full"
    error -205  "Bad audio channel"
    error -37   "Bad file name - the name may be too long"
end
