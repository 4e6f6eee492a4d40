// Sizes of the buffers setup.exe shares between its parts: paths, catalogue texts and
// composed messages.
#ifndef RES_BUFFERS_H
#define RES_BUFFERS_H

enum {
  PATH_LIMIT = 260,          // characters the Windows calls of the run accept for a path
  TEXT_LOAD_SIZE = 260,      // bytes for one text loaded from the message catalogue
  MESSAGE_MAX = 519,         // characters in a composed message (or a path being built)
  MESSAGE_BUFFER_SIZE = 520  // the general message and path buffer
};

#endif
