#!/usr/bin/env python3
"""Draws every image of the skin package into this folder (run by hand after a design change;
the PNGs are committed). Shapes are drawn four times larger and scaled down, for smooth edges."""
import math
import os
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4  # supersampling factor
BLUE = (43, 150, 213)
LINK = (29, 140, 234)
ZH_FONT = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"
LATIN_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"


def font(path, size):
    return ImageFont.truetype(path, size * SS)


def canvas(w, h, color=(0, 0, 0, 0)):
    img = Image.new("RGBA", (w * SS, h * SS), color)
    return img, ImageDraw.Draw(img)


def finish(img, name, palette=False):
    # each picture twice: as the markup sizes it, and at twice that for screens at 150 % and more
    # ("name@2x.png"; the window picks the set nearest its scale)
    w, h = img.size[0] // SS, img.size[1] // SS
    root, ext = os.path.splitext(name)
    for scale, out_name in ((1, name), (2, root + "@2x" + ext)):
        out = img.resize((w * scale, h * scale), Image.LANCZOS)
        if palette:
            # opaque pictures: 256 dithered colours look the same and weigh a third (the package
            # travels inside the executable)
            out = out.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.FLOYDSTEINBERG)
        out.save(os.path.join(HERE, out_name), optimize=True)


def s(v):
    return [x * SS for x in v] if isinstance(v, (list, tuple)) else int(round(v * SS))


def gradient(w, h, top, bottom):
    img = Image.new("RGBA", (w * SS, h * SS))
    px = img.load()
    for y in range(h * SS):
        t = y / max(1, h * SS - 1)
        c = tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(3)) + (255,)
        for x in range(w * SS):
            px[x, y] = c
    return img


def bubbles(img, seed, spots):
    layer = Image.new("RGBA", img.size, (0, 0, 0, 0))
    d = ImageDraw.Draw(layer)
    for (cx, cy, r, a) in spots:
        d.ellipse(s([cx - r, cy - r, cx + r, cy + r]), fill=(255, 255, 255, a))
    layer = layer.filter(ImageFilter.GaussianBlur(SS * 2))
    return Image.alpha_composite(img, layer)


def device(d, x, y, w, h, accent):
    """A stylised phone: body, screen, and a few tiles."""
    d.rounded_rectangle(s([x, y, x + w, y + h]), radius=s(10), fill=(255, 255, 255, 235))
    d.rounded_rectangle(s([x + 5, y + 14, x + w - 5, y + h - 16]), radius=s(3), fill=accent + (255,))
    d.ellipse(s([x + w / 2 - 4, y + h - 12, x + w / 2 + 4, y + h - 4]), outline=(200, 210, 220, 255), width=s(1))
    d.rounded_rectangle(s([x + w / 2 - 8, y + 6, x + w / 2 + 8, y + 9]), radius=s(1), fill=(200, 210, 220, 255))
    tile = (w - 10 - 12) / 3
    for r in range(3):
        for c in range(3):
            tx = x + 8 + c * (tile + 3)
            ty = y + 20 + r * (tile + 3)
            d.rounded_rectangle(s([tx, ty, tx + tile - 2, ty + tile - 2]), radius=s(3), fill=(255, 255, 255, 170))


def banner(w, h, top, bottom, name, title, subtitle, art):
    img = gradient(w, h, top, bottom)
    img = bubbles(img, 1, [(470, 40, 90, 28), (520, 200, 70, 22), (90, 230, 60, 18), (300, -20, 50, 20)])
    # art and text on their own layer, blended over the background (drawing would replace pixels)
    layer = Image.new("RGBA", img.size, (0, 0, 0, 0))
    d = ImageDraw.Draw(layer)
    # the window's own title at the top left (the window has no system title bar)
    logo(d, 12, 8, 16)
    d.text(s((34, 7)), "Vardo在线安装", font=font(ZH_FONT, 12), fill=(255, 255, 255, 255))
    art(layer, d)
    d.text(s((60, h / 2 - 34)), title, font=font(ZH_FONT, 30), fill=(255, 255, 255, 255))
    d.text(s((62, h / 2 + 10)), subtitle, font=font(ZH_FONT, 14), fill=(225, 240, 252, 255))
    finish(Image.alpha_composite(img, layer).convert("RGB"), name, palette=True)


def logo(d, x, y, size):
    d.rounded_rectangle(s([x, y, x + size, y + size]), radius=s(size / 4), fill=(255, 255, 255, 255))
    k = size / 16.0
    d.line(s([x + 4 * k, y + 4 * k, x + 8 * k, y + 12.5 * k, x + 12 * k, y + 4 * k]), fill=BLUE + (255,),
           width=s(max(1, 2 * k)), joint="curve")


def welcome_art(img, d):
    device(d, 420, 58, 80, 150, (120, 190, 235))
    device(d, 360, 96, 64, 120, (90, 170, 225))


def progress_art(index):
    def art(img, d):
        if index == 1:
            device(d, 410, 70, 90, 170, (120, 190, 235))
            for i, c in enumerate([(255, 196, 0), (255, 120, 90), (120, 220, 140)]):
                d.rounded_rectangle(s([350 + i * 14, 150 + i * 20, 400 + i * 14, 190 + i * 20]), radius=s(6),
                                    fill=c + (255,), outline=(255, 255, 255, 255), width=s(2))
        elif index == 2:
            device(d, 420, 70, 90, 170, (100, 180, 230))
            d.ellipse(s([330, 110, 400, 180]), fill=(255, 255, 255, 230))
            d.ellipse(s([352, 122, 378, 148]), fill=BLUE + (255,))
            d.pieslice(s([340, 146, 390, 196]), 180, 360, fill=BLUE + (255,))
        else:
            device(d, 420, 70, 90, 170, (110, 185, 232))
            for r in range(2):
                for c in range(2):
                    d.rounded_rectangle(s([330 + c * 36, 110 + r * 36, 360 + c * 36, 140 + r * 36]), radius=s(7),
                                        fill=[(255, 196, 0), (120, 220, 140), (255, 120, 90), (255, 255, 255)][r * 2 + c] + (255,))
    return art


def success_art(img, d):
    d.ellipse(s([400, 62, 520, 182]), fill=(255, 255, 255, 240))
    d.line(s([430, 124, 453, 148, 492, 98]), fill=(52, 180, 120, 255), width=s(10), joint="curve")


def state_strip(w, h, states, draw_one, name):
    img, d = canvas(w * states, h)
    for i in range(states):
        draw_one(d, i * w, i)
    finish(img, name)


def big_button():
    img, d = canvas(162, 132)
    fills = [(43, 150, 213), (58, 168, 232), (205, 208, 212)]
    for i, (y, c) in enumerate(zip((0, 46, 92), fills)):
        d.rounded_rectangle(s([0, y, 162, y + 40]), radius=s(4), fill=c + (255,))
        if i < 2:
            # a faint sheen on the upper half, blended here (drawing would replace the pixels)
            sheen = tuple(int(v + (255 - v) * 0.07) for v in c) + (255,)
            d.rounded_rectangle(s([0, y, 162, y + 20]), radius=s(4), fill=sheen)
            d.rectangle(s([0, y + 10, 162, y + 20]), fill=sheen)
    finish(img, "btn_162x132.png")


def title_button(name, glyph, hot_fill):
    def one(d, x, i):
        if i == 1:
            d.rectangle(s([x, 0, x + 28, 26]), fill=hot_fill)
        glyph(d, x)
    state_strip(28, 26, 2, one, name)


def glyph_min(d, x):
    d.rectangle(s([x + 9, 13, x + 19, 14]), fill=(255, 255, 255, 255))


def glyph_close(d, x):
    d.line(s([x + 9, 8, x + 19, 18]), fill=(255, 255, 255, 255), width=s(1.4))
    d.line(s([x + 19, 8, x + 9, 18]), fill=(255, 255, 255, 255), width=s(1.4))


def glyph_setting(d, x):
    cx, cy = x + 14, 13
    for k in range(8):
        a = k * math.pi / 4
        d.line(s([cx + 4 * math.cos(a), cy + 4 * math.sin(a), cx + 7 * math.cos(a), cy + 7 * math.sin(a)]),
               fill=(255, 255, 255, 255), width=s(2))
    d.ellipse(s([cx - 5, cy - 5, cx + 5, cy + 5]), outline=(255, 255, 255, 255), width=s(1.6))
    d.ellipse(s([cx - 1.6, cy - 1.6, cx + 1.6, cy + 1.6]), fill=(255, 255, 255, 255))


def checkbox():
    def one(d, x, i):
        border = [(190, 196, 204), LINK, BLUE][i]
        fill = (255, 255, 255) if i < 2 else BLUE
        d.rounded_rectangle(s([x + 1, 1, x + 15, 15]), radius=s(2), fill=fill + (255,), outline=border + (255,),
                            width=s(1))
        if i == 2:
            d.line(s([x + 4, 8, x + 7, 11, x + 12, 5]), fill=(255, 255, 255, 255), width=s(1.8), joint="curve")
    state_strip(16, 16, 3, one, "checkbox_48x16.png")


def arrow(name, down):
    def one(d, x, i):
        c = [(150, 156, 164), LINK][i] + (255,)
        if down:
            pts = [x + 5, 6, x + 10, 11, x + 15, 6]
        else:
            pts = [x + 5, 11, x + 10, 6, x + 15, 11]
        d.line(s(pts), fill=c, width=s(1.6), joint="curve")
    state_strip(20, 18, 2, one, name)


def progress(name, fore):
    img, d = canvas(512, 12)
    if fore:
        for xx in range(512 * SS):
            t = xx / (512 * SS)
            c = (int(43 + 20 * t), int(150 + 40 * t), int(213 + 20 * t), 255)
            d.line([(xx, 3 * SS), (xx, 9 * SS - 1)], fill=c)
        mask = Image.new("L", img.size, 0)
        ImageDraw.Draw(mask).rounded_rectangle(s([0, 3, 512, 9]), radius=s(3), fill=255)
        img.putalpha(mask)
    else:
        d.rounded_rectangle(s([0, 3, 512, 9]), radius=s(3), fill=(226, 230, 235, 255))
    finish(img, name)


def red_close():
    img, d = canvas(12, 12)
    d.ellipse(s([0, 0, 12, 12]), fill=(232, 72, 72, 255))
    d.line(s([4, 4, 8, 8]), fill=(255, 255, 255, 255), width=s(1.3))
    d.line(s([8, 4, 4, 8]), fill=(255, 255, 255, 255), width=s(1.3))
    finish(img, "red_close_12x12.png")


def joinqq():
    img, d = canvas(111, 26)
    d.rounded_rectangle(s([0, 2, 111, 24]), radius=s(11), fill=(255, 255, 255, 46))
    finish(img, "joinqq_bg_hotimg_111x26.png")
    img, d = canvas(14, 13)
    d.rounded_rectangle(s([0, 0, 14, 10]), radius=s(3), fill=(255, 255, 255, 255))
    d.polygon(s([3, 9, 3, 13, 7, 9]), fill=(255, 255, 255, 255))
    for k in range(3):
        d.ellipse(s([3.2 + k * 3, 4, 4.8 + k * 3, 5.6]), fill=BLUE + (255,))
    finish(img, "joinqq_bg_tips_14x13.png")


def small_logo():
    img, d = canvas(16, 16)
    logo(d, 0, 0, 16)
    finish(img, "logo_16x16.png")


def msgbox_icon():
    img, d = canvas(34, 34)
    d.ellipse(s([1, 1, 33, 33]), fill=(255, 170, 40, 255))
    d.rounded_rectangle(s([15.5, 7, 18.5, 21]), radius=s(1.5), fill=(255, 255, 255, 255))
    d.ellipse(s([15.2, 23.5, 18.8, 27.1]), fill=(255, 255, 255, 255))
    finish(img, "msgbox_icon_34x34.png")


def main():
    banner(580, 254, (27, 128, 204), (53, 170, 226), "welcome_page_bg_580x254.png", "Vardo",
           "苹果设备管理，一键安装，轻松上手", welcome_art)
    banner(580, 254, (24, 150, 120), (60, 190, 150), "success_page_bg_580x254.png", "安装完成",
           "Vardo 已准备就绪，马上开始体验吧", success_art)
    slides = [("照片音乐 轻松传输", "照片、音乐、视频在电脑和设备间自由传输"),
              ("资料备份 安全可靠", "通讯录、短信一键备份，随时恢复"),
              ("应用管理 井井有条", "应用安装、卸载与整理，一处搞定")]
    for i, (t, sub) in enumerate(slides, 1):
        banner(580, 300, (27, 128, 204), (53, 170, 226), "progress_page_bg_580x300_%d.png" % i, t, sub,
               progress_art(i))
    big_button()
    title_button("btn_setting.png", glyph_setting, (255, 255, 255, 50))
    title_button("min_btn_56x26.png", glyph_min, (255, 255, 255, 50))
    title_button("close_btn_56x26.png", glyph_close, (232, 17, 35, 230))
    checkbox()
    arrow("arrow_down_40x18.png", True)
    arrow("arrow_up_40x18.png", False)
    progress("progress_512x12_bg.png", False)
    progress("progress_512x12_fore.png", True)
    red_close()
    joinqq()
    small_logo()
    msgbox_icon()


if __name__ == "__main__":
    sys.exit(main())
