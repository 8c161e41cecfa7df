// Pelmora's console side: the banner, the two folder questions, and the hand-over to
// reconcile_vehicle_files.
#pragma once

// Prints the banner, asks "ref dir : " and then "new dir : " until each answer names an
// existing folder (a rejected answer is asked again without a message), then reconciles the
// new folder against the reference folder. When standard input ends before both answers are
// in, prints a short message on standard error and changes nothing. Result: always 0, the
// program's exit status.
int pelmora_main(void);
