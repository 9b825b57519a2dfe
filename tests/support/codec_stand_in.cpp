// A shared library under the file name of a codec library that is opened by name, exporting
// none of its functions: pointed at it, a process meets a codec library that is missing.
extern "C" int parvula_codec_stand_in() { return 0; }
