// The texts of the message catalogue, in one place for the string table (setup.rc) and the
// unit tests that check how messages are composed from them. Each text must stay below 260
// characters: the program loads them into 260-byte buffers.
//
// A message that names a file is one template with one placeholder, PLACEHOLDER, where the
// name goes (FillTemplate, failure.h), so that a translation (`datapack brand --texts`) can
// put the name where its grammar wants it. The TEXT_ pieces below are the English wording;
// the TEMPLATE_ lines put them together as the string table holds them.
#ifndef RES_MESSAGES_H
#define RES_MESSAGES_H

// Starts with a space: it is both the window title and every message box's caption.
#define TEXT_TITLE " Setup program"
#define TEXT_NEED_WIN32 "You need Windows 95/98 or Windows NT40/2000 to run this program."
#define TEXT_NO_PACKAGE "Setup program cannot continue because it could not find file"
#define TEXT_CORRUPT_HEAD "Setup program cannot continue because file"
#define TEXT_CORRUPT_TAIL "is corrupted."
#define TEXT_NO_LIST "Setup program cannot continue because it could not find file"
#define TEXT_CANNOT_COPY "Setup program cannot continue because it could not copy file"
#define TEXT_CANNOT_RUN "Setup program cannot continue because it could not run file"
#define TEXT_NO_SPACE                                                                       \
  "Setup program cannot continue because there is no enough disk free space to uncompress " \
  "files."
#define TEXT_NO_TEMP                                                                    \
  "Setup program cannot continue because it could not create a temporary directory to " \
  "uncompress files."

// Where a template takes the name. Two characters no English text holds.
#define PLACEHOLDER "%1"

#define TEMPLATE_NO_PACKAGE TEXT_NO_PACKAGE " '%1'."
#define TEMPLATE_CORRUPT TEXT_CORRUPT_HEAD " %1 " TEXT_CORRUPT_TAIL
#define TEMPLATE_NO_LIST TEXT_NO_LIST " %1"
// Takes "Setup.lst" whatever the base name is: the catalogue has one text for every list.
#define TEMPLATE_LIST_CORRUPT TEXT_CORRUPT_HEAD " %1 " TEXT_CORRUPT_TAIL
#define TEMPLATE_CANNOT_COPY TEXT_CANNOT_COPY " %1"
#define TEMPLATE_CANNOT_RUN TEXT_CANNOT_RUN " %1"

// The window's initial message (dialog template).
#define TEXT_PREPARING                                                                  \
  "Setup program is preparing the Wizard which will guide you through the rest of the " \
  "installation process. Please wait while uncompressing necessary files."

#endif
