// pagehost --serve: request after request from stdin, each answer on stdout.
#pragma once

// 0 at the end of the input, 2 on a request it cannot read or a body that
// ends early.
int Serve();
