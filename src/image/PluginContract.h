// The interface between the program and its image-reader plug-in libraries.
//
// A plug-in is a shared library, loaded at run time by file name ("ifgif.spi",
// "ifgif2.spi", "ifpng.spi"), that exports one C function, GetPicture. This
// header is all a plug-in needs; it holds no C++ and includes nothing of the
// core, so a plug-in may be written in C.
//
// GetPicture(buf, len, flag, info, bits, progress, user)
//   flag     1: `buf` holds the whole file, `len` bytes. Other flags are not used.
//   info     receives a malloc block: a 40-byte bitmap information header
//            (layout below) directly followed by the colour table, 4 bytes per
//            entry (blue, green, red, 0). Pictures of 1, 4 and 8 bits per pixel
//            carry the full table of 1 << bits entries.
//   bits     receives a malloc block: the pixel rows, bottom row first, each
//            row padded with zero bytes to a multiple of 4 bytes.
//   progress may be null; the program always passes null.
//   user     handed to `progress` unchanged; the program passes 0.
// Returns 0 on success; the caller then owns both blocks and releases them
// with free(). Any other value is a failure, and the caller owns nothing.
//
// The contract carries no block sizes. The program relies on the blocks being
// plain malloc blocks: before it reads a pixel it checks with
// malloc_usable_size() that the info block holds the header and the whole
// colour table and that the bits block holds every row the header promises.
#ifndef NORVANE_IMAGE_PLUGINCONTRACT_H
#define NORVANE_IMAGE_PLUGINCONTRACT_H

#ifdef __cplusplus
extern "C" {
#endif

// Reports progress: `done` of `total` steps. A non-zero return asks the
// plug-in to stop.
typedef int (*PluginProgress)(int done, int total, long user);

typedef int (*GetPictureFunction)(const char* buf, long len, unsigned int flag, void** info, void** bits,
                                  PluginProgress progress, long user);

// The name of the entry point, as looked up with dlsym.
#define NORVANE_PLUGIN_ENTRY "GetPicture"

// The flag value meaning "buf is the file's content in memory".
#define NORVANE_PLUGIN_FLAG_MEMORY 1u

// Layout of the 40-byte information header, all fields little-endian.
// Offsets in bytes.
#define NORVANE_INFO_HEADER_SIZE 40     // u32 header size, 40
#define NORVANE_INFO_WIDTH 4            // s32 width in pixels
#define NORVANE_INFO_HEIGHT 8           // s32 height; positive = rows stored bottom-up
#define NORVANE_INFO_PLANES 12          // u16 planes, 1
#define NORVANE_INFO_BIT_COUNT 14       // u16 bits per pixel: 1, 4, 8 or 24
#define NORVANE_INFO_COMPRESSION 16     // u32 0 (uncompressed)
#define NORVANE_INFO_IMAGE_SIZE 20      // u32 bytes of the bits block's rows
#define NORVANE_INFO_X_PELS 24          // s32 0
#define NORVANE_INFO_Y_PELS 28          // s32 0
#define NORVANE_INFO_COLOURS_USED 32    // u32 entries in the colour table (0 for 24 bits)
#define NORVANE_INFO_COLOURS_IMPORTANT 36  // u32 0

#ifdef __cplusplus
}
#endif

#endif  // NORVANE_IMAGE_PLUGINCONTRACT_H
