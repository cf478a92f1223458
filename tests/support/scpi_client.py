#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""A test engineer's script through PyVISA: each line of standard input is written to the
instrument at 127.0.0.1:PORT, in order; a line that begins with "?" is a query, and its
answer is printed on a line of its own."""
import sys

import pyvisa

resources = pyvisa.ResourceManager('@py')
instrument = resources.open_resource(f'TCPIP0::127.0.0.1::{sys.argv[1]}::SOCKET',
                                     read_termination='\n', write_termination='\n')
instrument.encoding = 'utf-8'  # the labels' letters
instrument.timeout = 120_000  # an answer that does not come is a failure, not a wait
sys.stdout.reconfigure(encoding='utf-8')
for line in sys.stdin.buffer.read().decode('utf-8').split('\n'):  # a CR kept as it came
    if line.startswith('?'):
        print(instrument.query(line[1:]), flush=True)
    elif line:
        instrument.write(line)
instrument.close()
