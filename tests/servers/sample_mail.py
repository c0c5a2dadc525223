"""Drops a few sample messages into a Maildir: Japanese text in the charsets real mail uses,
and one message with an attachment. Used by the demo to give a first run something to fetch."""
import os
import sys
import time
from email.header import Header
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.utils import formatdate, make_msgid


def plain(subject, sender, body, charset):
    m = MIMEText(body, "plain", charset)
    m["Subject"] = Header(subject, charset)
    m["From"] = sender
    return m


def samples():
    sender = Header("受信者", "iso-2022-jp").encode() + " <welcome@localhost>"
    yield plain("ようこそ疾風メールへ", sender,
                "はじめまして。\r\nこれは疾風メールの試しのメールです。\r\n受信ができれば準備完了です。\r\n",
                "iso-2022-jp")
    yield plain("明日の打ち合わせ ①", "Tanaka <tanaka@localhost>",
                "田中です。\r\n明日の打ち合わせは十時から第二会議室です。\r\n資料は㈱山田商事の件です。\r\n",
                "utf-8")
    m = MIMEMultipart()
    m["Subject"] = Header("写真を送ります", "utf-8")
    m["From"] = "Suzuki <suzuki@localhost>"
    m.attach(MIMEText("鈴木です。\r\n旅行の写真を添付しました。\r\n", "plain", "utf-8"))
    part = MIMEApplication(bytes(range(256)) * 16, Name=None)
    part.add_header("Content-Disposition", "attachment", filename=("utf-8", "", "旅行の写真.bin"))
    m.attach(part)
    yield m


def main():
    maildir = sys.argv[1]
    for i, m in enumerate(samples()):
        m["To"] = "hayate@localhost"
        m["Date"] = formatdate(localtime=True)
        m["Message-ID"] = make_msgid(domain="localhost")
        data = m.as_bytes().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        name = "%d.S%dP%d.sample" % (int(time.time()), i, os.getpid())
        tmp = os.path.join(maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(data)
        st = os.stat(os.path.join(maildir, "new"))
        if os.getuid() == 0:
            os.chown(tmp, st.st_uid, st.st_gid)
        os.rename(tmp, os.path.join(maildir, "new", name))
    print("mail-servers: seeded 3 sample messages")


if __name__ == "__main__":
    main()
