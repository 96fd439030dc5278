/* The EZ-USB FX2 registers the adapter program uses, with the addresses and bits of the FX2
   technical reference manual. */
#ifndef FX2REGS_H
#define FX2REGS_H

#define XREG(address) (*(volatile __xdata unsigned char*)(address))

/* Special function registers. */
__sfr __at(0x80) IOA;
__sfr __at(0x90) IOB;
__sfr __at(0xA0) IOC;
__sfr __at(0xB0) IOD;
__sfr __at(0xB1) IOE;
__sfr __at(0xB2) OEA;
__sfr __at(0xB3) OEB;
__sfr __at(0xB4) OEC;
__sfr __at(0xB5) OED;
__sfr __at(0xB6) OEE;
__sfr __at(0x88) TCON;
__sfr __at(0x89) TMOD;
__sfr __at(0x8A) TL0;
__sfr __at(0x8C) TH0;
__sfr __at(0x8E) CKCON;
__sfr __at(0x91) EXIF;
__sfr __at(0xA8) IE;
__sfr __at(0xE8) EIE;

__sbit __at(0x8C) TR0;
__sbit __at(0xA9) ET0;
__sbit __at(0xAF) EA;
__sbit __at(0xE8) EUSB;

/* Port A bits. */
__sbit __at(0x80) PA0;
__sbit __at(0x81) PA1;
__sbit __at(0x82) PA2;
__sbit __at(0x83) PA3;
__sbit __at(0x84) PA4;
__sbit __at(0x85) PA5;
__sbit __at(0x86) PA6;
__sbit __at(0x87) PA7;

/* Registers in external data space. */
#define CPUCS XREG(0xE600)
#define IFCONFIG XREG(0xE601)
#define REVCTL XREG(0xE60B)
#define EP1OUTCFG XREG(0xE610)
#define EP1INCFG XREG(0xE611)
#define EP2CFG XREG(0xE612)
#define EP4CFG XREG(0xE613)
#define EP6CFG XREG(0xE614)
#define EP8CFG XREG(0xE615)
#define FIFORESET XREG(0xE604)
#define INPKTEND XREG(0xE648)
#define OUTPKTEND XREG(0xE649)
#define USBIE XREG(0xE65C)
#define USBIRQ XREG(0xE65D)
#define PORTACFG XREG(0xE670)
#define PORTCCFG XREG(0xE671)
#define PORTECFG XREG(0xE672)
#define USBCS XREG(0xE680)
#define TOGCTL XREG(0xE683)
#define EP0BCH XREG(0xE68A)
#define EP0BCL XREG(0xE68B)
#define EP4BCH XREG(0xE694)
#define EP4BCL XREG(0xE695)
#define EP8BCH XREG(0xE69C)
#define EP8BCL XREG(0xE69D)
#define EP0CS XREG(0xE6A0)
#define EP4CS XREG(0xE6A4)
#define EP8CS XREG(0xE6A6)
#define EP2468STAT XREG(0xE6A8)
#define SETUPDAT ((volatile __xdata unsigned char*)0xE6B8)
#define EP0BUF ((volatile __xdata unsigned char*)0xE740)
#define EP4FIFOBUF ((volatile __xdata unsigned char*)0xF400)
#define EP8FIFOBUF ((volatile __xdata unsigned char*)0xFC00)

/* Bits. */
#define CPUCS_CLKSPD_48MHZ 0x10
#define USBIRQ_SUDAV 0x01
#define USBIRQ_SOF 0x02
#define USBIRQ_SUTOK 0x04
#define USBIRQ_SUSP 0x08
#define USBIRQ_URES 0x10
#define USBIRQ_HSGRANT 0x20
#define USBCS_HSM 0x80
#define USBCS_DISCON 0x08
#define USBCS_RENUM 0x02
#define EP0CS_HSNAK 0x80
#define EP0CS_BUSY 0x02
#define EPCS_STALL 0x01
#define EPCS_FULL 0x08
#define EP2468STAT_EP4E 0x04
#define EP2468STAT_EP8F 0x80
#define EXIF_USBINT 0x10
#define FIFORESET_NAKALL 0x80
#define TOGCTL_IO 0x10
#define TOGCTL_R 0x20
#define BCL_SKIP 0x80

/* Some register writes need a few cycles to reach the USB core before the next access. */
#define SYNCDELAY __asm__("nop\n nop\n nop\n nop")

#endif
