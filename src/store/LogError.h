#pragma once
// Why a message log could not be read. Any thread.
namespace telvara {

enum class LogError {
  None,
  EndsEarly,        // the data stops inside an item
  WrongTag,         // an object tag other than a new class first and 0x8001 after
  WrongClass,       // the class description names another class
  WrongSchema,      // the class description has a schema other than 2
  FieldTooLong,     // a text longer than its field
  BadFileName,      // a file name that is not a plain name in the inbox
  BadCallerId,      // a caller identity holding a NUL byte
  TrailingBytes,    // bytes after the last message
  TooManyMessages,  // a count this program cannot hold
};

// A short English phrase for notices, e.g. "the data ends early".
const char* DescribeLogError(LogError error);

}  // namespace telvara
