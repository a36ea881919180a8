#ifndef GPSA_PARENTCONSOLE_H
#define GPSA_PARENTCONSOLE_H

// Lets a Windows program without a console of its own (one that opens a window) write to the
// console it was started from: standard output and error reach that console unless they
// were redirected. Call first thing in main. Does nothing elsewhere, or when started from
// no console.
void useParentConsole();

#endif
