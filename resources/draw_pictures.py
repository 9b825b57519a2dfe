# Draws the small button pictures and the donation placeholder as PNG files:
#   python3 resources/draw_pictures.py resources
import struct, zlib, sys, os
out = sys.argv[1]

def png(path, w, h, px):
    raw = b''.join(b'\x00' + bytes(v for p in px[y*w:(y+1)*w] for v in p) for y in range(h))
    def chunk(t, d):
        c = struct.pack('>I', len(d)) + t + d
        return c + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
    data += chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    open(path, 'wb').write(data)

class Canvas:
    def __init__(s, w, h): s.w, s.h, s.px = w, h, [(0,0,0,0)] * (w*h)
    def set(s, x, y, c):
        if 0 <= x < s.w and 0 <= y < s.h: s.px[y*s.w+x] = c
    def rect(s, x0, y0, x1, y1, c):
        for y in range(y0, y1+1):
            for x in range(x0, x1+1): s.set(x, y, c)
    def frame(s, x0, y0, x1, y1, c):
        for x in range(x0, x1+1): s.set(x, y0, c); s.set(x, y1, c)
        for y in range(y0, y1+1): s.set(x0, y, c); s.set(x1, y, c)
    def disc(s, cx, cy, r, c):
        for y in range(s.h):
            for x in range(s.w):
                if (x-cx)**2 + (y-cy)**2 <= r*r: s.set(x, y, c)
    def line(s, x0, y0, x1, y1, c, t=1):
        n = max(abs(x1-x0), abs(y1-y0)) * 4 + 1
        for i in range(n+1):
            x = x0 + (x1-x0)*i/n; y = y0 + (y1-y0)*i/n
            for dx in range(t):
                for dy in range(t): s.set(int(round(x))+dx, int(round(y))+dy, c)

RUBY = (0xc4,0x30,0x4f,255); LIGHT = (0xf0,0xf0,0xf0,255); GREY = (0x9a,0x9e,0xa4,255)
DARK = (0x2a,0x2c,0x30,255); GOLD = (0xe8,0xb8,0x4a,255)

c = Canvas(16,16); c.disc(7.5,7.5,7.2,RUBY); c.rect(7,3,8,4,LIGHT); c.rect(7,6,8,12,LIGHT); c.rect(6,6,6,6,LIGHT); c.rect(6,12,9,12,LIGHT)
png(os.path.join(out,'btHelp.png'),16,16,c.px)
c = Canvas(16,16)
for i in range(5): c.line(3+i,6+i,3+i,6+i,LIGHT); c.line(12-i,6+i,12-i,6+i,LIGHT)
c.line(3,6,7,10,LIGHT,2); c.line(12,6,8,10,LIGHT,2); c.line(3,2,7,6,GREY,2); c.line(12,2,8,6,GREY,2)
png(os.path.join(out,'btExpand.png'),16,16,c.px)
c = Canvas(16,16); c.rect(1,4,6,5,GOLD); c.rect(1,5,14,13,GOLD); c.rect(3,8,15,13,(0xf5,0xd0,0x70,255)); c.frame(1,5,14,13,(0x8a,0x60,0x10,255))
png(os.path.join(out,'btOpen.png'),16,16,c.px)
c = Canvas(16,16); c.rect(1,1,14,14,(0x3a,0x6e,0xb0,255)); c.rect(4,1,11,6,LIGHT); c.rect(9,2,10,5,DARK); c.rect(3,9,12,14,DARK); c.frame(1,1,14,14,(0x1c,0x3a,0x60,255))
png(os.path.join(out,'btSave.png'),16,16,c.px)
c = Canvas(16,16); c.line(3,3,12,12,RUBY,2); c.line(12,3,3,12,RUBY,2)
png(os.path.join(out,'btDel.png'),16,16,c.px)
# The donation button placeholder: a ruby plate with a heart and a gold coin.
c = Canvas(72,29); c.rect(0,0,71,28,RUBY); c.frame(0,0,71,28,(0x80,0x14,0x2c,255)); c.frame(1,1,70,27,(0xe0,0x60,0x7c,255))
c.disc(12.5,10,4,LIGHT); c.disc(19.5,10,4,LIGHT)
for y in range(11,21):
    half = (20-y)*7.5/9
    c.rect(int(round(16-half)), y, int(round(16+half))-1, y, LIGHT)
c.disc(52,14,9,GOLD); c.disc(52,14,6,(0xf5,0xd0,0x70,255)); c.rect(51,9,53,19,(0x8a,0x60,0x10,255))
png(os.path.join(out,'donate.png'),72,29,c.px)
# The spin fields' arrows, 7 x 4, light for use and grey for a step that is not possible.
for name, colour in (('arrowUp', LIGHT), ('arrowUpOff', GREY)):
    c = Canvas(7,4)
    for y in range(4): c.rect(3-y, y, 3+y, y, colour)
    png(os.path.join(out, name + '.png'), 7, 4, c.px)
    c = Canvas(7,4)
    for y in range(4): c.rect(y, y, 6-y, y, colour)
    png(os.path.join(out, name.replace('Up', 'Down') + '.png'), 7, 4, c.px)
