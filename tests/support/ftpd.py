#!/usr/bin/python3
# A small FTP server for the tests, on 127.0.0.1 only.
#
# Usage: ftpd.py PORT ANON_DIR USER_DIR PASV_LO PASV_HI STATS_FILE
# Environment:
#   FTP_BANNER           welcome lines, split on '|'; all but the last are sent
#                        as "220-" continuation lines
#   FTP_USER, FTP_PASS   the account whose home is USER_DIR
#   FTP_MAX_CONS_PER_IP  sessions allowed from one address (0: no limit); one
#                        more gets "421 Too many connections ..."
#   FTP_MAX_RATE         bytes per second per data connection (0: no limit)
#   FTP_IDLE_TIMEOUT     seconds a session may stay idle before the server
#                        says 421 and closes it (0: the stock 300)
#
# STATS_FILE is rewritten whenever a session starts, ends or is refused, with
# the lines "open N", "peak N", "refused N" and "logins N", so that a test can
# tell how many control connections were ever open at once and how many USER
# commands the sessions sent.
import logging
import os
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

port, anon_dir, user_dir = int(sys.argv[1]), sys.argv[2], sys.argv[3]
pasv_lo, pasv_hi = int(sys.argv[4]), int(sys.argv[5])
stats_file = sys.argv[6]
banner = os.environ.get("FTP_BANNER", "Fetchora test FTP server ready").split("|")
max_rate = int(os.environ.get("FTP_MAX_RATE", "0"))

stats = {"open": 0, "peak": 0, "refused": 0, "logins": 0}


def write_stats():
    temporary = stats_file + ".new"
    with open(temporary, "w") as out:
        for name in ("open", "peak", "refused", "logins"):
            out.write("%s %d\n" % (name, stats[name]))
    os.replace(temporary, stats_file)


class Handler(FTPHandler):
    counted = False

    # Sends the welcome as a proper multi-line 220 reply, and counts the
    # session; the stock handler folds long banners into one line.
    def handle(self):
        self.counted = True
        stats["open"] += 1
        stats["peak"] = max(stats["peak"], stats["open"])
        write_stats()
        self.on_connect()
        if not self._closed and not self._closing:
            for line in banner[:-1]:
                self.push("220-%s\r\n" % line)
            self.respond("220 %s" % banner[-1])

    def ftp_USER(self, line):
        stats["logins"] += 1
        write_stats()
        return FTPHandler.ftp_USER(self, line)

    def handle_max_cons_per_ip(self):
        stats["refused"] += 1
        write_stats()
        FTPHandler.handle_max_cons_per_ip(self)

    # Counted when the server drops the session, not when the callback that
    # follows runs, so that a closed session never looks open.
    def close(self):
        if self.counted and not self._closed:
            self.counted = False
            stats["open"] -= 1
            write_stats()
        FTPHandler.close(self)


authorizer = DummyAuthorizer()
authorizer.add_anonymous(anon_dir)
authorizer.add_user(os.environ.get("FTP_USER", "user"), os.environ.get("FTP_PASS", "pass"), user_dir, perm="elr")
Handler.authorizer = authorizer
Handler.passive_ports = range(pasv_lo, pasv_hi + 1)
Handler.auth_failed_timeout = 0
if int(os.environ.get("FTP_IDLE_TIMEOUT", "0")) > 0:
    Handler.timeout = int(os.environ["FTP_IDLE_TIMEOUT"])
# The log shows where each transfer started, for resume checks.
Handler.log_cmds_list = Handler.log_cmds_list + ["REST", "RETR", "SIZE", "PASV", "USER"]
if max_rate > 0:
    ThrottledDTPHandler.write_limit = max_rate
    Handler.dtp_handler = ThrottledDTPHandler

logging.basicConfig(level=logging.INFO, format="%(asctime)s %(message)s")
server = FTPServer(("127.0.0.1", port), Handler)
server.max_cons = 64
server.max_cons_per_ip = int(os.environ.get("FTP_MAX_CONS_PER_IP", "0"))
signal.signal(signal.SIGTERM, lambda *unused: sys.exit(0))
write_stats()
server.serve_forever()
