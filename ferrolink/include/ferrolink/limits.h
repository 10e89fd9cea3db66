/* The most the library reads from a scanner and the most each export copies
 * into a buffer of its caller. */
#ifndef FERROLINK_LIMITS_H
#define FERROLINK_LIMITS_H

/* A command reply is read up to this many bytes; a longer one fails like a
 * reply that never ended (nothing of it is handed out) and its rest is read
 * and dropped, so the next command does not take it for its own reply. */
#define FERROLINK_MAX_REPLY_BYTES 2097152

/* SendCommand, SendCommandCom, SendCommandHEX and SendSingle copy at most this
 * many bytes into their output, the closing NUL included (1023 characters). A
 * longer reply fails and the output receives an empty text. */
#define FERROLINK_COMMAND_OUTPUT_BYTES 1024

/* GetDevBuf copies at most this many bytes (one reading of unframed data). A
 * longer reply fails with a length of 0 and nothing copied. */
#define FERROLINK_DEVBUF_BYTES 10240

/* The largest image a capture takes: the header's byte count has six digits. */
#define FERROLINK_MAX_IMAGE_BYTES 999999

/* Result of the sized forms when the reply does not fit the caller's capacity. */
#define FERROLINK_TOO_LONG (-2)

#endif
